// Where the operator's manual Help.html is found.
#pragma once

#include <string>
#include <vector>

namespace tagwell {

// The folders searched, in order: the current directory, the executable's
// folder (the build copies Help.html there), then the installed
// documentation folders <prefix>/share/doc/tagwell and <prefix>/share/tagwell
// beside the executable's bin folder. Needs a QCoreApplication for the
// executable's folder; without one only the current directory is given.
std::vector<std::string> DefaultHelpFolders();

// The full path of the first Help.html found in folders, or "" when none.
std::string FindHelpFile(const std::vector<std::string>& folders);

}  // namespace tagwell

// Starting a local server process for activation.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace tagwell::rpc {

// Splits a command line into words at blanks; "double quotes" keep blanks
// inside a word and a backslash takes the next character as it is.
std::vector<std::string> SplitCommandLine(const std::string& command);

// Starts command detached from this process: in a session of its own, not
// a child of this process (nobody has to reap it), stdin from /dev/null,
// stdout and stderr shared with this process, in folder `workingFolder`.
// Returns the process id once the program runs, or -1 with the reason in
// *error (program missing or not executable...).
pid_t StartDetached(const std::string& command, const std::string& workingFolder,
                    std::string* error);

// Whether process pid still runs (a zombie does not).
bool ProcessRuns(pid_t pid);

}  // namespace tagwell::rpc

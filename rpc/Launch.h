// Starting a local server process for activation.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace tagwell::rpc {

// Starts the program words[0] with the arguments words[1..] detached from this process: in a
// session of its own, not a child of this process (nobody has to reap it), stdin from /dev/null,
// stdout and stderr shared with this process, in folder `workingFolder`.
// Returns the process id once the program runs, or -1 with the reason in
// *error (program missing or not executable...).
pid_t StartDetached(const std::vector<std::string>& words, const std::string& workingFolder,
                    std::string* error);

// Whether process pid still runs (a zombie does not).
bool ProcessRuns(pid_t pid);

}  // namespace tagwell::rpc

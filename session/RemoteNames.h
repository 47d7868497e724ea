// The texts the remote name boxes start with, which the commands read as
// "no name given".
#pragma once

namespace tagwell {

// The prompt the remote computer box starts with.
inline constexpr const char* kRemoteComputerPrompt = "\\\\Remote computer";

}  // namespace tagwell

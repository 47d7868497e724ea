// Diagnostic lines on stderr: why an activation failed, what a server
// process does. One line each, "WHO: text".
#pragma once

namespace tagwell::rpc {

[[gnu::format(printf, 2, 3)]] void Diagnose(const char* who, const char* format, ...);

}  // namespace tagwell::rpc

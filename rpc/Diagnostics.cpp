#include "rpc/Diagnostics.h"

#include <cstdarg>
#include <cstdio>

namespace tagwell::rpc {

void Diagnose(const char* who, const char* format, ...) {
  char line[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  // One write per line, so lines of several processes do not interleave.
  std::fprintf(stderr, "%s: %s\n", who, line);
}

}  // namespace tagwell::rpc

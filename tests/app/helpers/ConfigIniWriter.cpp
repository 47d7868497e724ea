// Writes one key of Config.ini many times, for the test of two processes
// sharing the file. Usage: FOLDER KEY COUNT. Each round writes KEY and then
// the key Shared with the value round % 2. Exits 1 when a write failed.
#include <cstdio>
#include <cstdlib>

#include "session/ConfigIni.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s FOLDER KEY COUNT\n", argv[0]);
    return 2;
  }
  tagwell::Client client(tagwell::WindowPorts{}, argv[1]);
  int count = std::atoi(argv[3]);
  int failures = 0;
  for (int round = 0; round < count; ++round) {
    if (!tagwell::WriteClientsKey(client, argv[2], round % 2)) ++failures;
    if (!tagwell::WriteClientsKey(client, "Shared", round % 2)) ++failures;
  }
  if (failures) std::fprintf(stderr, "%d writes of %s failed\n", failures, argv[2]);
  return failures ? 1 : 0;
}

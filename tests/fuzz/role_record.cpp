// The role record of Config.ini as a client reads it: monitoring switched
// on, then one tick's role step.
#include "session/Roles.h"
#include "tests/fuzz/FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tagwell;
  fuzz::WriteInput(data, size, "Config.ini");
  fuzz::WriteInput(data, 0, "Logfile.txt");  // the role changes' log starts empty each time
  Client client(WindowPorts{}, fuzz::Folder());
  ConfigIniRoleStore store(client, [] { return 1'000'000'000LL; });
  ActiveStandby roles(client, store, "fuzz:1:00000001");
  roles.MonitorCommand(1000);
  roles.Tick(1000);
  return 0;
}

#include "opc/LocalServers.h"

#include "platform/registry/Registry.h"

namespace tagwell {

int ListLocalServers(ui::ListBox& list) {
  for (const std::string& progId : registry::InstalledServers().OpcServerProgIds())
    list.AddString(progId);
  return 0;
}

}  // namespace tagwell

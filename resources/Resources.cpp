#include "resources/Resources.h"

#include <QtGlobal>

// Q_INIT_RESOURCE must be used outside any namespace. Referring to the
// compiled tagwell.qrc from here keeps the linker from dropping it out of
// the static library.
static void InitTagwellQrc() {
  Q_INIT_RESOURCE(tagwell);
}

namespace tagwell::res {

void InitResources() {
  static bool done = false;
  if (!done) {
    InitTagwellQrc();
    done = true;
  }
}

}  // namespace tagwell::res

// Registers the images of tagwell.qrc with Qt's resource system. Call once
// before the first image is loaded (the main window does); later calls do
// nothing. GUI thread only.
#pragma once

namespace tagwell::res {

void InitResources();

}  // namespace tagwell::res

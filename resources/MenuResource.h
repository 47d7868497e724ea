// Menu 109 and accelerator table 109 of the main window.
#pragma once

#include <array>
#include <span>

#include "resources/ResourceIds.h"

namespace tagwell::res {

struct MenuItemResource {
  const char* text;  // null: a separator
  int id;
  bool grayed;  // grayed in the resource itself
};

struct PopupResource {
  const char* text;
  std::span<const MenuItemResource> items;
};

inline constexpr MenuItemResource kSeparator{nullptr, 0, false};

inline constexpr std::array kFileMenu{
    MenuItemResource{"&Load Configuration File...", IDM_LOADCONFIG, true},
    kSeparator,
    MenuItemResource{"E&xit", IDM_EXIT, false},
};
inline constexpr std::array kServerMenu{
    MenuItemResource{"&Connect...", IDM_CONNECT, false},
    kSeparator,
    MenuItemResource{"&Add Item...", IDM_ADDITEM, false},
    kSeparator,
    MenuItemResource{"&Read Item...", IDM_READITEM, false},
    MenuItemResource{"&Select cycle duration...", IDM_CYCLE, false},
    kSeparator,
    MenuItemResource{"&Write Item...", IDM_WRITEITEM, false},
    kSeparator,
    MenuItemResource{"&Remove Item...", IDM_REMOVEITEM, false},
    MenuItemResource{"&Disconnect...", IDM_DISCONNECT, false},
};
inline constexpr std::array kDatabaseMenu{
    MenuItemResource{"&Connect to Database...", IDM_DB_CONNECT, false},
    kSeparator,
    MenuItemResource{"&Disconnect from Database...", IDM_DB_DISCONNECT, false},
};
inline constexpr std::array kViewMenu{
    MenuItemResource{"&Log File", IDM_LOGFILE, false},
    MenuItemResource{"&Trend", IDM_TREND, false},
};
inline constexpr std::array kOptionsMenu{
    MenuItemResource{"&Connection Monitor", IDM_MONITOR, false},
};
inline constexpr std::array kHelpMenu{
    MenuItemResource{"&Help", IDM_HELP, false},
    kSeparator,
    MenuItemResource{"&About Tagwell", IDM_ABOUT, false},
};

inline constexpr std::array kMainMenu{
    PopupResource{"&File", kFileMenu},         PopupResource{"&Server", kServerMenu},
    PopupResource{"&Database", kDatabaseMenu}, PopupResource{"View", kViewMenu},
    PopupResource{"&Options", kOptionsMenu},   PopupResource{"&Help", kHelpMenu},
};

// Items grayed when the window is created, on top of those grayed in the
// resource.
inline constexpr std::array kGrayedAtCreate{IDM_DISCONNECT, IDM_REMOVEITEM, IDM_DB_CONNECT,
                                            IDM_DB_DISCONNECT, IDM_MONITOR};

// Accelerators: Alt together with a character (not a key), each for a command.
struct AcceleratorResource {
  char character;
  int id;
};
inline constexpr std::array kAccelerators{AcceleratorResource{'?', IDM_ABOUT},
                                          AcceleratorResource{'/', IDM_ABOUT}};
// The trend's shortcut, Alt with a character like the accelerators above;
// shown beside its menu item.
inline constexpr AcceleratorResource kTrendShortcut{'T', IDM_TREND};

}  // namespace tagwell::res

// The child controls of the main window in creation order, at their client
// pixel coordinates. The layout is fixed: resizing the window moves nothing.
#pragma once

#include <array>

#include "resources/ResourceIds.h"
#include "session/RemoteNames.h"

namespace tagwell {

enum class ControlClass { Label, Edit, ListBox, Button, Bitmap };

// The three fonts of the window (pixel height, weight), none for bitmaps.
enum class FontRole { Label, Entry, Data, None };

// Style bits beyond a visible child.
enum ControlStyle : unsigned {
  kPlain = 0,
  kBorder = 1u << 0,
  kVScroll = 1u << 1,
  kHScroll = 1u << 2,
  kNoSel = 1u << 3,  // a list box without selection
  kDisabled = 1u << 4,
};

struct ControlSpec {
  int id;  // -1 for the labels, which have none
  ControlClass cls;
  const char* text;            // initial text; for bitmaps the image path
  const char* accessibleName;  // what assistive technology announces
  int x, y, width, height;     // client pixels; bitmaps take the picture's size
  FontRole font;
  unsigned style;
};

namespace detail {
inline constexpr unsigned kColumn = kBorder | kVScroll | kHScroll;
inline constexpr unsigned kOneLine = kBorder | kNoSel;
}  // namespace detail

inline constexpr std::array kMainControls{
    // Labels.
    ControlSpec{-1, ControlClass::Label, "Remote OPC server", "Remote OPC server", 5, 10, 320, 15,
                FontRole::Label, kPlain},
    ControlSpec{-1, ControlClass::Label, "Local OPC servers", "Local OPC servers", 5, 85, 320, 15,
                FontRole::Label, kPlain},
    ControlSpec{-1, ControlClass::Label, "Server information", "Server information", 380, 85, 465,
                15, FontRole::Label, kPlain},
    ControlSpec{-1, ControlClass::Label, "Item name", "Item name", 5, 280, 270, 15, FontRole::Label,
                kPlain},
    ControlSpec{-1, ControlClass::Label, "Current value", "Current value", 275, 280, 270, 15,
                FontRole::Label, kPlain},
    ControlSpec{-1, ControlClass::Label, "Time Stamp", "Time Stamp", 495, 280, 150, 15,
                FontRole::Label, kPlain},
    ControlSpec{-1, ControlClass::Label, "Quality", "Quality", 645, 280, 150, 15, FontRole::Label,
                kPlain},
    ControlSpec{-1, ControlClass::Label, "Type", "Type", 745, 280, 100, 15, FontRole::Label,
                kPlain},
    ControlSpec{-1, ControlClass::Label, "Cycle in seconds", "Cycle in seconds", 5, 614, 102, 15,
                FontRole::Label, kPlain},
    ControlSpec{-1, ControlClass::Label, "Number of items", "Number of items", 125, 614, 102, 15,
                FontRole::Label, kPlain},
    // Remote name boxes; the texts are prompts.
    ControlSpec{res::IDC_REMOTE_COMPUTER, ControlClass::Edit, kRemoteComputerPrompt,
                "Remote computer", 5, 25, 320, 25, FontRole::Entry, kBorder},
    ControlSpec{res::IDC_REMOTE_SERVER, ControlClass::Edit, "\\Remote server", "Remote server", 5,
                47, 320, 25, FontRole::Entry, kBorder},
    // List boxes.
    ControlSpec{res::IDC_LOCAL_SERVERS, ControlClass::ListBox, "", "Local OPC servers", 5, 100, 320,
                170, FontRole::Entry, detail::kColumn},
    ControlSpec{res::IDC_SERVER_INFO, ControlClass::ListBox, "", "Server information", 380, 100,
                465, 170, FontRole::Entry, kBorder | kVScroll | kNoSel},
    ControlSpec{res::IDC_ITEM_NAMES, ControlClass::ListBox, "", "Item name", 5, 295, 270, 335,
                FontRole::Data, detail::kColumn},
    ControlSpec{res::IDC_VALUES, ControlClass::ListBox, "", "Current value", 275, 295, 220, 335,
                FontRole::Data, detail::kColumn},
    ControlSpec{res::IDC_TIME_STAMPS, ControlClass::ListBox, "", "Time Stamp", 495, 295, 150, 335,
                FontRole::Data, detail::kColumn},
    ControlSpec{res::IDC_QUALITIES, ControlClass::ListBox, "", "Quality", 645, 295, 100, 335,
                FontRole::Data, detail::kColumn},
    ControlSpec{res::IDC_TYPES, ControlClass::ListBox, "", "Type", 745, 295, 100, 335,
                FontRole::Data, detail::kColumn},
    ControlSpec{res::IDC_CYCLE_BOX, ControlClass::ListBox, "", "Cycle in seconds", 5, 630, 102, 25,
                FontRole::Data, detail::kOneLine},
    ControlSpec{res::IDC_ITEM_COUNT, ControlClass::ListBox, "", "Number of items", 125, 630, 102,
                25, FontRole::Data, detail::kOneLine},
    ControlSpec{res::IDC_ROLE_BOX, ControlClass::ListBox, "", "Client role", 755, 65, 90, 25,
                FontRole::Data, detail::kOneLine},
    // Buttons.
    ControlSpec{res::IDC_ADD_BUTTON, ControlClass::Button, "Add Item", "Add Item", 461, 55, 80, 25,
                FontRole::Label, kPlain},
    ControlSpec{res::IDC_DISCONNECT_BUTTON, ControlClass::Button, "Disconnect", "Disconnect", 765,
                630, 80, 25, FontRole::Label, kDisabled},
    ControlSpec{res::IDC_CONNECT_BUTTON, ControlClass::Button, "Connect", "Connect", 380, 55, 80,
                25, FontRole::Label, kPlain},
    ControlSpec{res::IDC_REMOVE_BUTTON, ControlClass::Button, "Remove Item", "Remove Item", 684,
                630, 80, 25, FontRole::Label, kDisabled},
    ControlSpec{res::IDC_READ_BUTTON, ControlClass::Button, "Read Item", "Read Item", 542, 55, 80,
                25, FontRole::Label, kPlain},
    // Pictures.
    ControlSpec{res::IDC_BITMAP, ControlClass::Bitmap, ":/tagwell/bitmap159.png", "Tagwell", 775, 0,
                60, 60, FontRole::None, kPlain},
    ControlSpec{res::IDC_BITMAP, ControlClass::Bitmap, ":/tagwell/bitmap134.png", "Separator", 3,
                270, 844, 4, FontRole::None, kPlain},
};

}  // namespace tagwell

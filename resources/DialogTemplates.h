// Dialog templates 103, 136, 137 and 138. Coordinates are dialog units; the
// dialogs convert them with the base units of the template's font.
#pragma once

#include <array>
#include <span>

#include "resources/ResourceIds.h"

namespace tagwell::res {

enum class ControlKind { DefPushButton, PushButton, Edit, ListBox, Static, Icon };

struct ControlTemplate {
  int id;  // -1: a static without id
  ControlKind kind;
  const char* text;
  int x, y, width, height;
};

struct DialogTemplate {
  int id;
  const char* caption;
  const char* fontFace;
  int pointSize;
  int x, y, width, height;
  std::span<const ControlTemplate> controls;
};

inline constexpr std::array kCycleControls{
    ControlTemplate{IDOK, ControlKind::DefPushButton, "OK", 154, 8, 35, 12},
    ControlTemplate{IDCANCEL, ControlKind::PushButton, "Cancel", 154, 27, 35, 12},
    ControlTemplate{IDC_CYCLE_EDIT, ControlKind::Edit, "", 6, 7, 144, 12},
    ControlTemplate{-1, ControlKind::Static,
                    "Enter the value of cycle duration as a multiple of 1 second, for example:", 6,
                    26, 138, 18},
    ControlTemplate{-1, ControlKind::Static, "1 = 1 second,", 28, 45, 41, 8},
    ControlTemplate{-1, ControlKind::Static, "60 = 1 minute,", 28, 57, 43, 8},
    ControlTemplate{-1, ControlKind::Static, "300 = 5 minutes.", 28, 69, 50, 8},
};
inline constexpr DialogTemplate kCycleDialog{IDD_CYCLE,
                                             "Select cycle duration to read data/write to database",
                                             "Arial Unicode MS",
                                             10,
                                             100,
                                             100,
                                             196,
                                             88,
                                             kCycleControls};

inline constexpr std::array kWriteControls{
    ControlTemplate{IDOK, ControlKind::DefPushButton, "OK", 147, 8, 32, 11},
    ControlTemplate{IDCANCEL, ControlKind::PushButton, "Cancel", 147, 28, 32, 11},
    ControlTemplate{IDC_WRITE_EDIT, ControlKind::Edit, "", 7, 7, 132, 12},
};
inline constexpr DialogTemplate kWriteDialog{
    IDD_WRITEVALUE, "Write value of the Item ", "Arial Unicode MS", 10, 150, 100, 186, 48,
    kWriteControls};

inline constexpr std::array kAboutControls{
    ControlTemplate{IDC_BITMAP, ControlKind::Icon, "", 14, 9, 14, 15},
    ControlTemplate{-1, ControlKind::Static, "Tagwell Version 8.4", 40, 10, 92, 8},
    ControlTemplate{-1, ControlKind::Static, "OPC Data Access 2.0 client", 40, 20, 124, 8},
    ControlTemplate{-1, ControlKind::Static, "for Linux, with Qt 6", 40, 32, 82, 8},
    ControlTemplate{IDOK, ControlKind::DefPushButton, "OK", 70, 63, 30, 11},
};
inline constexpr DialogTemplate kAboutBox{
    IDD_ABOUTBOX, "About Tagwell", "Lucida Handwriting", 10, 22, 17, 173, 80, kAboutControls};

inline constexpr std::array kAddItemControls{
    ControlTemplate{IDOK, ControlKind::DefPushButton, "OK", 276, 17, 40, 14},
    ControlTemplate{IDCANCEL, ControlKind::PushButton, "Cancel", 276, 35, 40, 14},
    ControlTemplate{IDC_ADD_LIST, ControlKind::ListBox, "", 7, 35, 259, 172},
    ControlTemplate{IDC_ADD_EDIT, ControlKind::Edit, "", 7, 17, 260, 14},
    ControlTemplate{IDC_ADD_LABEL, ControlKind::Static, "Item Name:", 7, 3, 119, 10},
};
inline constexpr DialogTemplate kAddItemDialog{
    IDD_ADDITEM, "Add Item", "Arial Unicode MS", 9, 160, 80, 323, 214, kAddItemControls};

}  // namespace tagwell::res

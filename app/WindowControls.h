// Creates the main window's child controls from the control table, and its
// menu bar from menu 109.
#pragma once

#include <QFont>
#include <map>
#include <vector>

#include "app/ControlTable.h"

class QAction;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenuBar;
class QPushButton;
class QWidget;

namespace tagwell {

// The window's fonts, by character cell height in pixels and weight: label
// 14 px weight 600, entry 15 px weight 500, data 14 px weight 400;
// sans-serif, no italic, underline or strike-out.
QFont WindowFont(FontRole role);

struct WindowControls {
  std::vector<QLabel*> labels;  // in table order
  std::map<int, QLineEdit*> edits;
  std::map<int, QListWidget*> lists;
  std::map<int, QPushButton*> buttons;
  std::vector<QLabel*> bitmaps;  // picture 159, then rule 134
};

// Every control of kMainControls, in table (creation) order, as a child of
// parent at its fixed place. List boxes keep their lines unsorted.
WindowControls CreateControls(QWidget* parent);

// Fills menuBar with the popups and items of menu 109; returns the items by
// command id. Items grayed in the resource start disabled.
std::map<int, QAction*> CreateMenu(QMenuBar* menuBar);

}  // namespace tagwell

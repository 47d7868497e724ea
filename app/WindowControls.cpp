#include "app/WindowControls.h"

#include <QAction>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QStyle>

#include "resources/MenuResource.h"
#include "session/ConfigIni.h"

namespace tagwell {
namespace {

QListWidget* MakeListBox(const ControlSpec& spec, QWidget* parent) {
  auto* list = new QListWidget(parent);
  list->setSortingEnabled(false);
  list->setUniformItemSizes(true);
  list->setEditTriggers(QAbstractItemView::NoEditTriggers);
  list->setTextElideMode(Qt::ElideNone);  // cut at the edge, as a list box does
  list->setSelectionMode((spec.style & kNoSel) ? QAbstractItemView::NoSelection
                                               : QAbstractItemView::SingleSelection);
  list->setFocusPolicy((spec.style & kNoSel) ? Qt::NoFocus : Qt::StrongFocus);
  list->setVerticalScrollBarPolicy((spec.style & kVScroll) ? Qt::ScrollBarAsNeeded
                                                           : Qt::ScrollBarAlwaysOff);
  list->setHorizontalScrollBarPolicy((spec.style & kHScroll) ? Qt::ScrollBarAsNeeded
                                                             : Qt::ScrollBarAlwaysOff);
  return list;
}

QWidget* MakeControl(const ControlSpec& spec, QWidget* parent, WindowControls& controls) {
  QString text = QString::fromUtf8(spec.text);
  switch (spec.cls) {
    case ControlClass::Label: {
      auto* label = new QLabel(text, parent);
      label->setTextFormat(Qt::PlainText);
      controls.labels.push_back(label);
      return label;
    }
    case ControlClass::Edit: {
      auto* edit = new QLineEdit(text, parent);
      controls.edits[spec.id] = edit;
      return edit;
    }
    case ControlClass::ListBox:
      return controls.lists[spec.id] = MakeListBox(spec, parent);
    case ControlClass::Button:
      return controls.buttons[spec.id] = new QPushButton(text, parent);
    case ControlClass::Bitmap:
      break;
  }
  auto* bitmap = new QLabel(parent);
  bitmap->setPixmap(QPixmap(text));
  controls.bitmaps.push_back(bitmap);
  return bitmap;
}

// A Windows font height is the character cell (ascent plus descent), not
// the em size: the largest pixel size whose cell fits the height is taken,
// so that the texts fit their controls as they were laid out.
// Faces of Arial's widths come first, as the texts were measured for it.
QFont CellFont(int cellHeight, int weight) {
  QFont font;
  font.setFamilies({QStringLiteral("Arial"), QStringLiteral("Liberation Sans"),
                    QStringLiteral("DejaVu Sans Condensed"), QStringLiteral("Sans Serif")});
  font.setStyleHint(QFont::SansSerif);
  font.setWeight(QFont::Weight(weight));
  for (int pixels = cellHeight; pixels > 6; --pixels) {
    font.setPixelSize(pixels);
    if (QFontMetrics(font).height() <= cellHeight) break;
  }
  return font;
}

// A one-line box keeps its place and size, so the longest text it shows
// must fit it whole: the font is narrowed first (a condensed face, or the
// face stretched), then made smaller, until the text and the item's
// margins fit inside the frame.
void FitLongestText(QListWidget* box, const QString& longest) {
  const int margin = box->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, box) + 1;
  const int room = box->width() - 2 * box->frameWidth() - 2 * margin;
  const auto fits = [&](const QFont& font) {
    return QFontMetrics(font).horizontalAdvance(longest) <= room;
  };
  QFont font = box->font();
  for (int stretch : {QFont::SemiCondensed, QFont::Condensed}) {
    if (fits(font)) break;
    font.setStretch(stretch);
  }
  for (int pixels = font.pixelSize(); pixels > 6 && !fits(font); --pixels)
    font.setPixelSize(pixels - 1);
  box->setFont(font);
}

}  // namespace

QFont WindowFont(FontRole role) {
  switch (role) {
    case FontRole::Label:
      return CellFont(14, 600);
    case FontRole::Entry:
      return CellFont(15, 500);
    case FontRole::Data:
    case FontRole::None:
      break;
  }
  return CellFont(14, 400);
}

WindowControls CreateControls(QWidget* parent) {
  WindowControls controls;
  for (const ControlSpec& spec : kMainControls) {
    QWidget* widget = MakeControl(spec, parent, controls);
    if (spec.font != FontRole::None) widget->setFont(WindowFont(spec.font));
    if (spec.cls == ControlClass::Bitmap)
      widget->setGeometry(spec.x, spec.y, widget->sizeHint().width(), widget->sizeHint().height());
    else
      widget->setGeometry(spec.x, spec.y, spec.width, spec.height);
    widget->setEnabled(!(spec.style & kDisabled));
    widget->setAccessibleName(QString::fromUtf8(spec.accessibleName));
    if (spec.id > 0) widget->setObjectName(QStringLiteral("control%1").arg(spec.id));
  }
  // The item columns reach down over the labels under them; the labels stay
  // readable on top.
  for (QLabel* label : controls.labels) label->raise();
  FitLongestText(controls.lists.at(res::IDC_ROLE_BOX), QString::fromUtf8(kRoleNotMonitored));
  return controls;
}

std::map<int, QAction*> CreateMenu(QMenuBar* menuBar) {
  std::map<int, QAction*> actions;
  for (const res::PopupResource& popup : res::kMainMenu) {
    QMenu* menu = menuBar->addMenu(QString::fromUtf8(popup.text));
    for (const res::MenuItemResource& item : popup.items) {
      if (item.text == nullptr) {
        menu->addSeparator();
        continue;
      }
      QAction* action = menu->addAction(QString::fromUtf8(item.text));
      action->setEnabled(!item.grayed);
      action->setData(item.id);
      actions[item.id] = action;
    }
  }
  return actions;
}

}  // namespace tagwell

// Dialogs built from the templates of resources/DialogTemplates.h: the
// template's font, its frame placed relative to the owner's client area
// and its controls placed from dialog units, as Windows places them.
#pragma once

#include <QDialog>
#include <QFont>
#include <QRect>
#include <map>

#include "resources/DialogTemplates.h"

namespace tagwell {

// Dialog base units of a font: the average character width (of the 52
// letters, rounded as Windows rounds it) and the character height.
struct BaseUnits {
  int x;
  int y;
};
BaseUnits DialogBaseUnits(const QFont& font);

// Dialog units to pixels: x * base.x / 4 and y * base.y / 8, rounded.
QRect DialogUnitsToPixels(const BaseUnits& base, int x, int y, int width, int height);

// The template's font: its face at its point size, falling back to a
// sans-serif face where the face is not installed.
QFont TemplateFont(const res::DialogTemplate& dialogTemplate);

// Gives dialog (whose parent is the owner window, if any) the template's
// caption, font, fixed size and place relative to the owner, and creates
// the controls in template (tab) order. Returns the controls by template id
// (statics without id are not kept). The OK button (id 1) is the default
// button and accepts the dialog, Cancel (id 2) rejects it, as do Escape and
// the close box.
std::map<int, QWidget*> BuildFromTemplate(QDialog& dialog, const res::DialogTemplate& t);

// Runs dialog modal to its owner window (the main window stays blocked, other
// windows such as message boxes without owner do not); returns its result.
int RunModal(QDialog& dialog);

}  // namespace tagwell

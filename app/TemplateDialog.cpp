#include "app/TemplateDialog.h"

#include <QFontMetrics>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

#include "resources/StringTable.h"

namespace tagwell {
namespace {

int MulDiv(int value, int numerator, int denominator) {
  long long product = static_cast<long long>(value) * numerator;
  long long half = denominator / 2;
  return static_cast<int>(product >= 0 ? (product + half) / denominator
                                       : (product - half) / denominator);
}

QWidget* MakeControl(const res::ControlTemplate& c, QWidget* parent) {
  QString text = QString::fromUtf8(c.text);
  switch (c.kind) {
    case res::ControlKind::DefPushButton:
    case res::ControlKind::PushButton: {
      auto* button = new QPushButton(text, parent);
      button->setDefault(c.kind == res::ControlKind::DefPushButton);
      button->setAccessibleName(text);
      return button;
    }
    case res::ControlKind::Edit:
      return new QLineEdit(parent);
    case res::ControlKind::ListBox:
      return new QListWidget(parent);
    case res::ControlKind::Static: {
      auto* label = new QLabel(text, parent);
      label->setWordWrap(true);
      label->setTextFormat(Qt::PlainText);
      label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
      return label;
    }
    case res::ControlKind::Icon:
      break;
  }
  auto* icon = new QLabel(parent);
  icon->setPixmap(QIcon(res::kIconPath).pixmap(32, 32));
  icon->setAccessibleName(res::kAppTitle);
  return icon;
}

}  // namespace

BaseUnits DialogBaseUnits(const QFont& font) {
  QFontMetrics metrics(font);
  int width = metrics.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
  return {(width / 26 + 1) / 2, metrics.height()};
}

QRect DialogUnitsToPixels(const BaseUnits& base, int x, int y, int width, int height) {
  return QRect(MulDiv(x, base.x, 4), MulDiv(y, base.y, 8), MulDiv(width, base.x, 4),
               MulDiv(height, base.y, 8));
}

QFont TemplateFont(const res::DialogTemplate& t) {
  QFont font(QString::fromUtf8(t.fontFace));
  font.setPointSize(t.pointSize);
  font.setStyleHint(QFont::SansSerif);
  return font;
}

std::map<int, QWidget*> BuildFromTemplate(QDialog& dialog, const res::DialogTemplate& t) {
  dialog.setWindowTitle(QString::fromUtf8(t.caption));
  dialog.setFont(TemplateFont(t));
  dialog.setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                        Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  BaseUnits base = DialogBaseUnits(dialog.font());
  QRect frame = DialogUnitsToPixels(base, t.x, t.y, t.width, t.height);
  dialog.setFixedSize(frame.size());
  if (QWidget* owner = dialog.parentWidget()) dialog.move(owner->mapToGlobal(frame.topLeft()));
  std::map<int, QWidget*> controls;
  for (const res::ControlTemplate& c : t.controls) {
    QWidget* widget = MakeControl(c, &dialog);
    QRect rect = DialogUnitsToPixels(base, c.x, c.y, c.width, c.height);
    if (c.kind == res::ControlKind::Icon) rect.setSize(QSize(32, 32));
    widget->setGeometry(rect);
    if (c.id >= 0) controls[c.id] = widget;
    if (auto* button = qobject_cast<QPushButton*>(widget)) {
      if (c.id == res::IDOK)
        QObject::connect(button, &QPushButton::clicked, &dialog, &QDialog::accept);
      if (c.id == res::IDCANCEL)
        QObject::connect(button, &QPushButton::clicked, &dialog, &QDialog::reject);
    }
  }
  return controls;
}

int RunModal(QDialog& dialog) {
  dialog.setWindowModality(dialog.parentWidget() ? Qt::WindowModal : Qt::ApplicationModal);
  return dialog.exec();
}

}  // namespace tagwell

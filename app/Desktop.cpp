#include "app/Desktop.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QUrl>

namespace tagwell {
namespace {

class QtDesktop final : public Desktop {
 public:
  std::string GetOpenFileName(QWidget* owner, const QString& filter) override {
    QString path = QFileDialog::getOpenFileName(owner, QString(), QString(), filter, nullptr,
                                                QFileDialog::ReadOnly);
    return path.toStdString();
  }
  bool OpenFile(const std::string& path) override {
    return QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path)));
  }
};

}  // namespace

std::unique_ptr<Desktop> MakeQtDesktop() {
  return std::make_unique<QtDesktop>();
}

}  // namespace tagwell

// The desktop services the commands use: the open-file dialog and opening a
// file with the program the desktop associates with it (xdg-open). A port,
// so that tests answer the dialogs.
#pragma once

#include <QString>
#include <memory>
#include <string>

class QWidget;

namespace tagwell {

class Desktop {
 public:
  virtual ~Desktop() = default;
  // A modal open-file dialog of owner with one filter ("XML Files (*.xml)");
  // only an existing file can be chosen, and the current directory does not
  // change. The chosen file's full path, or "" when cancelled.
  virtual std::string GetOpenFileName(QWidget* owner, const QString& filter) = 0;
  // Opens the local file at path with its associated program; false when
  // none could be started.
  virtual bool OpenFile(const std::string& path) = 0;
};

// QFileDialog and QDesktopServices::openUrl.
std::unique_ptr<Desktop> MakeQtDesktop();

}  // namespace tagwell

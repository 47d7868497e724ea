#include "tests/app/AppTestSupport.h"

#include <QListWidget>
#include <QPixmap>

namespace tagwell::testing {

QApplication& EnsureApplication() {
  if (!QApplication::instance()) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "tagwell_app_tests";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv);
  }
  return *static_cast<QApplication*>(QApplication::instance());
}

std::string FakeDesktop::GetOpenFileName(QWidget* owner, const QString& filter) {
  filters.push_back(filter);
  owners.push_back(owner);
  if (answers.empty()) return {};
  std::string answer = answers.front();
  answers.pop_front();
  return answer;
}

bool FakeDesktop::OpenFile(const std::string& path) {
  opened.push_back(path);
  return openSucceeds;
}

TestWindow::TestWindow(const std::string& folder) {
  EnsureApplication();
  MainWindowOptions options;
  options.folder = folder.empty() ? dir.path() : folder;
  options.messageBox = &messages;
  options.desktop = &desktop;
  options.timer = &timer;
  window = std::make_unique<MainWindow>(options);
}

TestWindow::~TestWindow() {
  if (window->isVisible()) window->close();
}

std::vector<std::string> TestWindow::Lines(int listId) const {
  std::vector<std::string> lines;
  QListWidget* list = window->listBox(listId);
  for (int i = 0; i < list->count(); ++i) lines.push_back(list->item(i)->text().toStdString());
  return lines;
}

void TestWindow::ShowActive() {
  window->show();
  window->activateWindow();
  QApplication::setActiveWindow(window.get());
}

void SaveScreenshot(QWidget& widget, const std::string& name) {
  QPixmap picture = widget.grab();
  EXPECT_TRUE(picture.save(QString::fromStdString(name), "PNG")) << name;
}

}  // namespace tagwell::testing

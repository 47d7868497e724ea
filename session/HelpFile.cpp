#include "session/HelpFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include "resources/StringTable.h"

namespace tagwell {

std::vector<std::string> DefaultHelpFolders() {
  std::vector<std::string> folders{QDir::currentPath().toStdString()};
  if (QCoreApplication::instance()) {
    QDir bin(QCoreApplication::applicationDirPath());
    folders.push_back(bin.absolutePath().toStdString());
    folders.push_back(QDir::cleanPath(bin.filePath("../share/doc/tagwell")).toStdString());
    folders.push_back(QDir::cleanPath(bin.filePath("../share/tagwell")).toStdString());
  }
  return folders;
}

std::string FindHelpFile(const std::vector<std::string>& folders) {
  for (const std::string& folder : folders) {
    QFileInfo file(QDir(QString::fromStdString(folder)), res::kHelpFileName);
    if (file.isFile()) return file.absoluteFilePath().toStdString();
  }
  return {};
}

}  // namespace tagwell

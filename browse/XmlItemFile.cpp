#include <QDomDocument>
#include <QFile>
#include <QXmlStreamReader>
#include <cstdio>

#include "browse/XmlItemList.h"

namespace tagwell {
namespace {

// Deeper files are refused: the DOM parser's time grows with the square of
// the depth (a file of 20,000 levels takes seconds), and no item list needs
// more than a few levels.
constexpr int kMaxDepth = 1000;

// Scans device for elements nested deeper than kMaxDepth; leaves device
// at its start.
bool NestingFits(QIODevice& device, QString* error) {
  QXmlStreamReader reader(&device);
  int depth = 0;
  while (!reader.atEnd()) {
    QXmlStreamReader::TokenType token = reader.readNext();
    if (token == QXmlStreamReader::StartElement && ++depth > kMaxDepth) {
      *error = QString("elements are nested deeper than %1 levels (line %2)")
                   .arg(kMaxDepth)
                   .arg(reader.lineNumber());
      device.seek(0);
      return false;
    }
    if (token == QXmlStreamReader::EndElement) --depth;
  }
  device.seek(0);
  return true;
}

// Visits the elements below root in document order (pre-order). Iterative,
// so that a deeply nested file cannot exhaust the stack.
template <class Visit>
void WalkElements(const QDomNode& root, Visit visit) {
  QDomNode node = root.firstChild();
  while (!node.isNull()) {
    if (node.isElement()) visit(node.toElement());
    QDomNode next = node.firstChild();
    if (next.isNull()) {
      QDomNode up = node;
      while (!up.isNull() && up != root && up.nextSibling().isNull()) up = up.parentNode();
      if (up.isNull() || up == root) break;
      next = up.nextSibling();
    }
    node = next;
  }
}

void TraceAttributes(const QDomElement& element) {
  QDomNamedNodeMap attributes = element.attributes();
  for (int i = 0; i < attributes.length(); ++i) {
    if (attributes.item(i).isAttr()) std::fputs("\nAttribute type: attribute\n", stdout);
  }
}

}  // namespace

std::optional<std::vector<std::string>> ReadXmlItemList(const std::string& path,
                                                        std::string* error) {
  QFile file(QString::fromStdString(path));
  if (!file.open(QIODevice::ReadOnly)) {
    if (error) *error = file.errorString().toStdString();
    return std::nullopt;
  }
  QDomDocument document;
  QString message;
  if (!NestingFits(file, &message)) {
    if (error) *error = message.toStdString();
    return std::nullopt;
  }
  int line = 0, column = 0;
  if (!document.setContent(&file, &message, &line, &column)) {
    if (error)
      *error = QString("%1 (line %2, column %3)").arg(message).arg(line).arg(column).toStdString();
    return std::nullopt;
  }
  std::vector<std::string> ids;
  WalkElements(document, [&](const QDomElement& element) {
    if (element.nodeName() == QLatin1String("Name") &&
        element.parentNode().nodeName() == QLatin1String("Item"))
      ids.push_back(element.text().trimmed().toStdString());
    TraceAttributes(element);
  });
  std::fflush(stdout);
  return ids;
}

}  // namespace tagwell

// Pieces of the address-space file's parser shared by its source files.
// Internal to server/.
#pragma once

#include <QDomElement>
#include <charconv>
#include <cmath>
#include <map>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "server/AddressSpace.h"

namespace tagwell::server::xml {

// A fault at an element; caught by Parse and turned into the error text.
// The element's place is where its start tag ends; a fault of one of its
// attributes names it, so that the attribute's own line can be found.
struct XmlFault : std::runtime_error {
  XmlFault(const QDomElement& at, const std::string& what)
      : std::runtime_error(what), line(at.lineNumber()), column(at.columnNumber()) {}
  XmlFault(const QDomElement& at, const char* attributeName, const std::string& what)
      : XmlFault(at, what) {
    attribute = attributeName;
  }
  int line;
  int column;
  std::string attribute;
};

inline std::string Utf8(const QString& text) {
  return text.toStdString();
}

inline std::string Attribute(const QDomElement& element, const char* name) {
  return Utf8(element.attribute(QString::fromLatin1(name)));
}

inline void CheckAttributes(const QDomElement& element,
                            std::initializer_list<const char*> allowed) {
  const QDomNamedNodeMap attributes = element.attributes();
  for (int i = 0; i < attributes.count(); ++i) {
    const QString name = attributes.item(i).nodeName();
    bool known = false;
    for (const char* a : allowed) known = known || name == QLatin1String(a);
    if (!known)
      throw XmlFault(
          element, name.toUtf8().constData(),
          "unknown attribute \"" + Utf8(name) + "\" on <" + Utf8(element.tagName()) + ">");
  }
}

inline double ParseNumber(const QDomElement& at, std::string_view what, std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  double value = 0.0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size() ||
      !std::isfinite(value))
    throw XmlFault(at, std::string(what) + " \"" + std::string(text) + "\" is not a number");
  return value;
}

inline double NumberAttribute(const QDomElement& element, const char* name, double fallback) {
  if (!element.hasAttribute(QString::fromLatin1(name))) return fallback;
  try {
    return ParseNumber(element, name, Attribute(element, name));
  } catch (XmlFault& fault) {
    fault.attribute = name;
    throw;
  }
}

// What the parse has met so far: the IDs of items and the paths of
// branches with their lines, so that a name given twice is refused where
// it is given the second time.
struct ParseState {
  AddressSpaceDefinition* definition = nullptr;
  struct Seen {
    bool branch;
    int line;
  };
  std::map<std::string, Seen> names;
  // Records an item ID or branch path met at element; throws on a repeat.
  void Claim(const QDomElement& element, const std::string& name, bool branch);
};

std::string JoinPath(const std::string& path, const std::string& name);

// A <ModbusDevice> in the branch at path: a branch of its items, and the
// device in the definition's devices.
BranchDefinition ParseModbusDevice(const QDomElement& element, const std::string& path,
                                   ParseState& state);

}  // namespace tagwell::server::xml

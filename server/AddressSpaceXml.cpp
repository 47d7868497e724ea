#include "server/AddressSpaceXml.h"

#include <QDomDocument>
#include <QFile>
#include <cstdio>
#include <cstring>

#include "server/XmlParsing.h"

namespace tagwell::server {

namespace xml {

std::string JoinPath(const std::string& path, const std::string& name) {
  return path.empty() ? name : path + "." + name;
}

void ParseState::Claim(const QDomElement& element, const std::string& name, bool branch) {
  auto [it, added] = names.emplace(name, Seen{branch, element.lineNumber()});
  if (added) return;
  const std::string first = " (first at line " + std::to_string(it->second.line) + ")";
  if (it->second.branch != branch)
    throw XmlFault(element, "the name " + name + " is used for a branch and an item" + first);
  throw XmlFault(element,
                 (branch ? "the branch " : "the item ID ") + name + " is given twice" + first);
}

}  // namespace xml

namespace {

using namespace xml;

struct TypeName {
  const char* text;
  com::VARTYPE vt;
};
constexpr TypeName kTypeNames[] = {
    {"VT_I2", com::VT_I2},
    {"VT_I4", com::VT_I4},
    {"VT_R4", com::VT_R4},
    {"VT_R8", com::VT_R8},
    {"VT_BSTR", com::VT_BSTR},
    {"VT_BOOL", com::VT_BOOL},
    {"VT_UI1", com::VT_UI1},
    {"VT_UI2", com::VT_UI2},
    {"VT_UI4", com::VT_UI4},
    {"VT_ARRAY|VT_R8", com::VT_ARRAY | com::VT_R8},
    {"VT_ARRAY|VT_UI1", com::VT_ARRAY | com::VT_UI1},
};

com::VARTYPE ParseType(const QDomElement& element) {
  const std::string text = Attribute(element, "type");
  for (const TypeName& t : kTypeNames)
    if (text == t.text) return t.vt;
  std::string known;
  for (const TypeName& t : kTypeNames) known += std::string(known.empty() ? "" : ", ") + t.text;
  throw XmlFault(element, text.empty() ? "the item has no type (one of " + known + ")"
                                       : "unknown type \"" + text + "\" (one of " + known + ")");
}

bool IsWholeNumberType(com::VARTYPE vt) {
  return vt == com::VT_I2 || vt == com::VT_I4 || vt == com::VT_UI1 || vt == com::VT_UI2 ||
         vt == com::VT_UI4;
}

std::string NumberText(double number) {
  char text[32];
  std::snprintf(text, sizeof text, "%.17g", number);
  return text;
}

com::Variant NumberAs(const QDomElement& at, double number, com::VARTYPE vt) {
  if (IsWholeNumberType(vt) && number != std::floor(number))
    throw XmlFault(at, "the value " + NumberText(number) + " is not a whole number");
  com::Variant source;
  source->vt = com::VT_R8;
  source->dblVal = number;
  com::Variant value;
  if (com::FAILED(com::VariantChangeType(value.get(), source.get(), 0, vt)))
    throw XmlFault(at, "the value " + NumberText(number) + " does not fit the item's type");
  return value;
}

com::Variant ParseArray(const QDomElement& at, const std::string& text, com::VARTYPE vt) {
  std::vector<double> numbers;
  std::size_t pos = 0;
  while ((pos = text.find_first_not_of(" ,\t\r\n", pos)) != std::string::npos) {
    const std::size_t end = std::min(text.find_first_of(" ,\t\r\n", pos), text.size());
    numbers.push_back(
        ParseNumber(at, "the array element", std::string_view(text).substr(pos, end - pos)));
    pos = end;
  }
  const com::VARTYPE element = vt & com::VT_TYPEMASK;
  com::Variant value;
  value->parray = com::SafeArrayCreateVector(element, 0, static_cast<com::ULONG>(numbers.size()));
  if (!value->parray) throw XmlFault(at, "the array cannot be made");
  value->vt = vt;
  for (std::size_t i = 0; i < numbers.size(); ++i) {
    com::Variant e = NumberAs(at, numbers[i], element);
    com::LONG index = static_cast<com::LONG>(i);
    void* member =
        element == com::VT_R8 ? static_cast<void*>(&e->dblVal) : static_cast<void*>(&e->bVal);
    com::SafeArrayPutElement(value->parray, &index, member);
  }
  return value;
}

com::Variant ParseValue(const QDomElement& element, com::VARTYPE vt) {
  const std::string text = Attribute(element, "value");
  if (vt & com::VT_ARRAY) return ParseArray(element, text, vt);
  com::Variant value;
  if (vt == com::VT_BSTR) {
    value->bstrVal = com::SysAllocStringUtf8(text);
    value->vt = com::VT_BSTR;
  } else if (vt == com::VT_BOOL) {
    if (text != "true" && text != "false" && text != "1" && text != "0" && text != "-1")
      throw XmlFault(element, "the value \"" + text + "\" is not true or false");
    value->vt = com::VT_BOOL;
    value->boolVal = (text == "false" || text == "0") ? com::VARIANT_FALSE : com::VARIANT_TRUE;
  } else {
    value = NumberAs(element, ParseNumber(element, "the value", text), vt);
  }
  return value;
}

com::DWORD ParseAccess(const QDomElement& element) {
  const std::string text = Attribute(element, "access");
  if (text.empty() || text == "read") return com::OPC_READABLE;
  if (text == "readwrite") return com::OPC_READABLE | com::OPC_WRITEABLE;
  throw XmlFault(element, "access", "access \"" + text + "\" is neither read nor readwrite");
}

com::WORD ParseQuality(const QDomElement& element) {
  if (!element.hasAttribute(QStringLiteral("quality"))) return com::OPC_QUALITY_GOOD;
  const std::string text = Attribute(element, "quality");
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  unsigned long value = 0;
  const char* begin = text.data() + (hex ? 2 : 0);
  auto [end, ec] = std::from_chars(begin, text.data() + text.size(), value, hex ? 16 : 10);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size() || value > 0xFFFF)
    throw XmlFault(element, "quality", "quality \"" + text + "\" is not a 16-bit number");
  return static_cast<com::WORD>(value);
}

Signal ParseSignal(const QDomElement& element) {
  Signal signal;
  const std::string kind = Attribute(element, "signal");
  if (!kind.empty()) {
    auto parsed = SignalKindFromName(kind);
    if (!parsed)
      throw XmlFault(element, "signal",
                     "unknown signal \"" + kind + "\" (static, random, ramp, sine, counter)");
    signal.kind = *parsed;
  }
  signal.low = NumberAttribute(element, "low", signal.low);
  signal.high = NumberAttribute(element, "high", signal.high);
  signal.periodSeconds = NumberAttribute(element, "period", signal.periodSeconds);
  return signal;
}

void ParseEu(const QDomElement& element, ItemDefinition& item) {
  const std::string eu = Attribute(element, "euType");
  if (eu.empty() || eu == "none") {
    item.euType = com::OPC_NOENUM;
  } else if (eu == "analog") {
    item.euType = com::OPC_ANALOG;
    if (!element.hasAttribute(QStringLiteral("euLow")) ||
        !element.hasAttribute(QStringLiteral("euHigh")))
      throw XmlFault(element, "an analog item needs euLow and euHigh");
    item.euLow = NumberAttribute(element, "euLow", 0.0);
    item.euHigh = NumberAttribute(element, "euHigh", 0.0);
  } else if (eu == "enumerated") {
    item.euType = com::OPC_ENUMERATED;
  } else {
    throw XmlFault(element, "euType", "unknown euType \"" + eu + "\" (none, analog, enumerated)");
  }
}

void CheckNoText(const QDomNode& node) {
  if (node.isText() && !node.nodeValue().trimmed().isEmpty())
    throw XmlFault(node.parentNode().toElement(),
                   "unexpected text \"" + Utf8(node.nodeValue().trimmed()) + "\"");
}

ItemDefinition ParseItem(const QDomElement& element) {
  CheckAttributes(element, {"name", "type", "access", "quality", "signal", "value", "low", "high",
                            "period", "euType", "euLow", "euHigh", "units", "description"});
  ItemDefinition item;
  item.name = Attribute(element, "name");
  item.canonicalType = ParseType(element);
  item.accessRights = ParseAccess(element);
  item.quality = ParseQuality(element);
  item.signal = ParseSignal(element);
  ParseEu(element, item);
  item.units = Attribute(element, "units");
  item.description = Attribute(element, "description");
  if (element.hasAttribute(QStringLiteral("value"))) {
    if (item.signal.kind != SignalKind::Static)
      throw XmlFault(element, "a value is given for a " +
                                  std::string(SignalKindName(item.signal.kind)) + " signal");
    item.initialValue = ParseValue(element, item.canonicalType);
  }
  for (QDomNode n = element.firstChild(); !n.isNull(); n = n.nextSibling()) {
    CheckNoText(n);
    if (!n.isElement()) continue;
    const QDomElement child = n.toElement();
    if (child.tagName() != QLatin1String("State") || item.euType != com::OPC_ENUMERATED)
      throw XmlFault(child, "unexpected <" + Utf8(child.tagName()) + "> in <Item>");
    CheckAttributes(child, {});
    item.euTexts.push_back(Utf8(child.text()));
  }
  return item;
}

void ParseChildren(const QDomElement& element, const std::string& path, BranchDefinition& branch,
                   ParseState& state) {
  for (QDomNode n = element.firstChild(); !n.isNull(); n = n.nextSibling()) {
    CheckNoText(n);
    if (!n.isElement()) continue;
    const QDomElement child = n.toElement();
    if (child.tagName() == QLatin1String("Item")) {
      branch.items.push_back(ParseItem(child));
      state.Claim(child, JoinPath(path, branch.items.back().name), false);
    } else if (child.tagName() == QLatin1String("Branch")) {
      CheckAttributes(child, {"name"});
      BranchDefinition sub;
      sub.name = Attribute(child, "name");
      state.Claim(child, JoinPath(path, sub.name), true);
      ParseChildren(child, JoinPath(path, sub.name), sub, state);
      branch.branches.push_back(std::move(sub));
    } else if (child.tagName() == QLatin1String("ModbusDevice")) {
      branch.branches.push_back(ParseModbusDevice(child, path, state));
    } else {
      throw XmlFault(
          child, "unexpected <" + Utf8(child.tagName()) + "> in <" + Utf8(element.tagName()) + ">");
    }
  }
}

// Where a fault is shown: at its attribute when it names one (its start
// tag may span lines), else where the element's start tag ends.
std::pair<int, int> AttributePlace(std::string_view xml, const XmlFault& fault) {
  if (fault.attribute.empty()) return {fault.line, fault.column};
  const QString text = QString::fromUtf8(xml.data(), static_cast<qsizetype>(xml.size()));
  qsizetype end = 0;  // where the start tag ends
  for (int line = 1; line < fault.line && end >= 0; ++line) {
    end = text.indexOf(QLatin1Char('\n'), end);
    if (end >= 0) ++end;
  }
  if (end < 0) return {fault.line, fault.column};
  end = std::min(end + fault.column - 1, text.size() - 1);  // at the tag's last character
  const qsizetype tagStart = text.lastIndexOf(QLatin1Char('<'), end);
  const QString name = QString::fromStdString(fault.attribute);
  for (qsizetype at = text.lastIndexOf(name, end); at > tagStart && at > 0;
       at = text.lastIndexOf(name, at - 1)) {
    qsizetype after = at + name.size();
    while (after < end && text[after].isSpace()) ++after;
    if (!text[at - 1].isSpace() || after >= end || text[after] != QLatin1Char('=')) continue;
    const qsizetype lineStart = text.lastIndexOf(QLatin1Char('\n'), at) + 1;
    return {static_cast<int>(text.left(at).count(QLatin1Char('\n'))) + 1,
            static_cast<int>(at - lineStart) + 1};
  }
  return {fault.line, fault.column};
}

std::string Located(std::string_view source, int line, int column, const std::string& what) {
  return std::string(source) + ":" + std::to_string(line) + ":" + std::to_string(column) + ": " +
         what;
}

}  // namespace

AddressSpaceFile ParseAddressSpaceXml(std::string_view xml, std::string_view sourceName) {
  AddressSpaceFile result;
  QDomDocument document;
  QString message;
  int line = 0;
  int column = 0;
  if (!document.setContent(QByteArray(xml.data(), static_cast<qsizetype>(xml.size())), &message,
                           &line, &column)) {
    result.error = Located(sourceName, line, column, "not well-formed XML: " + Utf8(message));
    return result;
  }
  const QDomElement root = document.documentElement();
  AddressSpaceDefinition definition;
  try {
    if (root.tagName() != QLatin1String("AddressSpace"))
      throw XmlFault(root,
                     "the document element is <" + Utf8(root.tagName()) + ">, not <AddressSpace>");
    CheckAttributes(root, {});
    ParseState state;
    state.definition = &definition;
    ParseChildren(root, "", definition.root, state);
  } catch (const XmlFault& fault) {
    const auto [line, column] = AttributePlace(xml, fault);
    result.error = Located(sourceName, line, column, fault.what());
    return result;
  }
  if (std::string fault = ValidateAddressSpace(definition); !fault.empty()) {
    result.error = std::string(sourceName) + ": " + fault;
    return result;
  }
  result.definition = std::move(definition);
  return result;
}

AddressSpaceFile ReadAddressSpaceFile(const std::string& path) {
  QFile file(QString::fromStdString(path));
  if (!file.open(QIODevice::ReadOnly)) {
    AddressSpaceFile result;
    result.error = path + ": cannot be read: " + Utf8(file.errorString());
    return result;
  }
  const QByteArray bytes = file.readAll();
  return ParseAddressSpaceXml(
      std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())), path);
}

std::shared_ptr<AddressSpace> LoadAddressSpace(const std::string& path,
                                               std::shared_ptr<Clock> clock,
                                               AddressSpaceOptions options, std::string* error) {
  AddressSpaceFile file = ReadAddressSpaceFile(path);
  if (!file.definition) {
    if (error) *error = file.error;
    return nullptr;
  }
  return AddressSpace::Create(std::move(*file.definition), std::move(clock), options, error);
}

std::shared_ptr<AddressSpace> MakeDefaultAddressSpace(std::shared_ptr<Clock> clock,
                                                      AddressSpaceOptions options) {
  AddressSpaceFile file = ParseAddressSpaceXml(DefaultPlantXml(), "DefaultPlant.xml");
  // The built-in plant is checked by the tests; a fault here is a build fault.
  if (!file.definition) throw std::logic_error(file.error);
  return AddressSpace::Create(std::move(*file.definition), std::move(clock), options, nullptr);
}

}  // namespace tagwell::server

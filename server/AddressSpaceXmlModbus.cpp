// <ModbusDevice> elements of the address-space file.
#include "server/XmlParsing.h"

namespace tagwell::server::xml {
namespace {

long WholeAttribute(const QDomElement& element, const char* name, long low, long high,
                    long fallback) {
  if (!element.hasAttribute(QString::fromLatin1(name))) return fallback;
  const std::string text = Attribute(element, name);
  long value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size() || value < low ||
      value > high)
    throw XmlFault(element, name,
                   std::string(name) + " \"" + text + "\" is not a whole number from " +
                       std::to_string(low) + " to " + std::to_string(high));
  return value;
}

ModbusDeviceDefinition ParseDevice(const QDomElement& element, const std::string& path) {
  ModbusDeviceDefinition device;
  device.path = path;
  device.host = Attribute(element, "host");
  if (device.host.empty()) throw XmlFault(element, "the device has no host");
  device.port = static_cast<std::uint16_t>(WholeAttribute(element, "port", 1, 65535, 502));
  device.unit = static_cast<int>(WholeAttribute(element, "unit", 1, 255, 1));
  if (device.unit > 247 && device.unit != 255)
    throw XmlFault(element, "unit",
                   "unit " + std::to_string(device.unit) + " is not 1 to 247, or 255");
  // A read or write waits for the device up to its timeout: beyond the
  // clients' call deadline every such call would be taken for a lost server.
  device.timeout = std::chrono::milliseconds(WholeAttribute(element, "timeoutMs", 1, 600000, 1000));
  if (device.timeout > kMaxDeviceTimeout)
    throw XmlFault(element, "timeoutMs",
                   "timeoutMs \"" + Attribute(element, "timeoutMs") + "\" is above " +
                       std::to_string(kMaxDeviceTimeout.count()) +
                       ": a client gives up on a call after 10 s, and a read may wait for the "
                       "device twice (the request in flight, then its own)");
  device.period =
      std::chrono::milliseconds(WholeAttribute(element, "periodMs", 10, 86400000, 1000));
  return device;
}

RegisterKind ParseKind(const QDomElement& element) {
  const std::string text = Attribute(element, "register");
  if (auto kind = RegisterKindFromName(text)) return *kind;
  throw XmlFault(element, (text.empty() ? std::string("the item has no register")
                                        : "unknown register \"" + text + "\"") +
                              " (coil, discreteInput, inputRegister, holdingRegister)");
}

Encoding ParseEncoding(const QDomElement& element, RegisterKind kind) {
  if (!element.hasAttribute(QStringLiteral("encoding")))
    return IsBitKind(kind) ? Encoding::Bool : Encoding::UInt16;
  const std::string text = Attribute(element, "encoding");
  if (auto encoding = EncodingFromName(text)) return *encoding;
  throw XmlFault(element, "encoding",
                 "unknown encoding \"" + text +
                     "\" (bool, int16, uint16, int32, uint32, float32, float64, string)");
}

bool ParseWordOrder(const QDomElement& element) {
  const std::string text = Attribute(element, "wordOrder");
  if (text.empty() || text == "highFirst") return false;
  if (text == "lowFirst") return true;
  throw XmlFault(element, "wordOrder",
                 "wordOrder \"" + text + "\" is neither highFirst nor lowFirst");
}

void ParseScaling(const QDomElement& element, ItemDefinition& item) {
  const char* names[] = {"rawLow", "rawHigh", "euLow", "euHigh"};
  int given = 0;
  for (const char* name : names) given += element.hasAttribute(QString::fromLatin1(name)) ? 1 : 0;
  if (given == 0) return;
  if (given != 4) throw XmlFault(element, "scaling needs rawLow, rawHigh, euLow and euHigh");
  item.modbus->scaling =
      Scaling{NumberAttribute(element, "rawLow", 0), NumberAttribute(element, "rawHigh", 0)};
  item.euType = com::OPC_ANALOG;
  item.euLow = NumberAttribute(element, "euLow", 0);
  item.euHigh = NumberAttribute(element, "euHigh", 0);
  if (!(item.euLow < item.euHigh)) throw XmlFault(element, "the EU range needs euLow < euHigh");
}

ItemDefinition ParsePoint(const QDomElement& element, std::size_t device) {
  CheckAttributes(element, {"name", "register", "address", "encoding", "wordOrder", "length",
                            "rawLow", "rawHigh", "euLow", "euHigh", "units", "description"});
  ItemDefinition item;
  item.name = Attribute(element, "name");
  item.modbus.emplace();
  ModbusPoint& point = *item.modbus;
  point.device = device;
  point.kind = ParseKind(element);
  if (!element.hasAttribute(QStringLiteral("address")))
    throw XmlFault(element, "the item has no address");
  point.address = static_cast<std::uint16_t>(WholeAttribute(element, "address", 0, 65535, 0));
  point.encoding = ParseEncoding(element, point.kind);
  point.lowWordFirst = ParseWordOrder(element);
  point.stringLength = static_cast<std::uint16_t>(WholeAttribute(element, "length", 0, 125, 0));
  ParseScaling(element, item);
  if (std::string fault = CheckPoint(point); !fault.empty()) throw XmlFault(element, fault);
  item.canonicalType = CanonicalTypeOf(point);
  item.accessRights =
      com::OPC_READABLE | (IsWritableKind(point.kind) ? com::OPC_WRITEABLE : com::DWORD{0});
  item.units = Attribute(element, "units");
  item.description = Attribute(element, "description");
  for (QDomNode n = element.firstChild(); !n.isNull(); n = n.nextSibling())
    if (n.isElement() || (n.isText() && !n.nodeValue().trimmed().isEmpty()))
      throw XmlFault(element, "a device's <Item> holds nothing");
  return item;
}

// A string shares no register with another item: writing it would
// overwrite its neighbour.
void CheckStringOverlaps(const std::vector<std::pair<const ItemDefinition*, QDomElement>>& items) {
  for (std::size_t later = 1; later < items.size(); ++later) {
    const ModbusPoint& b = *items[later].first->modbus;
    for (std::size_t earlier = 0; earlier < later; ++earlier) {
      const ModbusPoint& a = *items[earlier].first->modbus;
      if (a.kind != b.kind || (a.encoding != Encoding::String && b.encoding != Encoding::String))
        continue;
      if (a.address < b.address + PointWidth(b) && b.address < a.address + PointWidth(a))
        throw XmlFault(items[later].second,
                       "the registers of " + items[later].first->name + " overlap those of " +
                           items[earlier].first->name + " (line " +
                           std::to_string(items[earlier].second.lineNumber()) + ")");
    }
  }
}

}  // namespace

BranchDefinition ParseModbusDevice(const QDomElement& element, const std::string& path,
                                   ParseState& state) {
  CheckAttributes(element, {"name", "host", "port", "unit", "timeoutMs", "periodMs"});
  BranchDefinition branch;
  branch.name = Attribute(element, "name");
  const std::string devicePath = JoinPath(path, branch.name);
  state.Claim(element, devicePath, true);
  const std::size_t index = state.definition->devices.size();
  ModbusDeviceDefinition device = ParseDevice(element, devicePath);
  std::vector<QDomElement> elements;
  std::vector<std::pair<const ItemDefinition*, QDomElement>> parsed;
  for (QDomNode n = element.firstChild(); !n.isNull(); n = n.nextSibling()) {
    if (n.isText() && !n.nodeValue().trimmed().isEmpty())
      throw XmlFault(element, "unexpected text \"" + Utf8(n.nodeValue().trimmed()) + "\"");
    if (!n.isElement()) continue;
    const QDomElement child = n.toElement();
    if (child.tagName() != QLatin1String("Item"))
      throw XmlFault(child, "unexpected <" + Utf8(child.tagName()) + "> in <ModbusDevice>");
    branch.items.push_back(ParsePoint(child, index));
    elements.push_back(child);
    state.Claim(child, JoinPath(devicePath, branch.items.back().name), false);
  }
  for (std::size_t i = 0; i < branch.items.size(); ++i)
    parsed.emplace_back(&branch.items[i], elements[i]);
  CheckStringOverlaps(parsed);
  state.definition->devices.push_back(std::move(device));
  return branch;
}

}  // namespace tagwell::server::xml

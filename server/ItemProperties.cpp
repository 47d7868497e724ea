#include "server/ItemProperties.h"

namespace tagwell::server {
namespace {

void SetDouble(com::VARIANT* v, double x) {
  v->vt = com::VT_R8;
  v->dblVal = x;
}

void SetText(com::VARIANT* v, const std::string& text) {
  v->vt = com::VT_BSTR;
  v->bstrVal = com::SysAllocStringUtf8(text);
}

}  // namespace

com::DATE FileTimeToDate(const com::FILETIME& ft) {
  // 109205 days lie between 1601-01-01 and 1899-12-30.
  constexpr double kTicksPerDay = 864000000000.0;
  return static_cast<double>(com::FileTimeTicks(ft)) / kTicksPerDay - 109205.0;
}

std::vector<PropertyInfo> AvailableProperties(const Item& item) {
  const ItemDefinition& d = item.definition;
  std::vector<PropertyInfo> list = {
      {kPropCanonicalType, "Item Canonical DataType", com::VT_I2},
      {kPropValue, "Item Value", com::VT_VARIANT},
      {kPropQuality, "Item Quality", com::VT_I2},
      {kPropTimeStamp, "Item Timestamp", com::VT_DATE},
      {kPropAccessRights, "Item Access Rights", com::VT_I4},
      {kPropScanRate, "Server Scan Rate", com::VT_R4},
      {kPropEuType, "Item EU Type", com::VT_I4},
  };
  if (d.euType == com::OPC_ANALOG)
    list.push_back(
        {kPropEuInfo, "Item EUInfo", static_cast<com::VARTYPE>(com::VT_ARRAY | com::VT_R8)});
  if (d.euType == com::OPC_ENUMERATED)
    list.push_back(
        {kPropEuInfo, "Item EUInfo", static_cast<com::VARTYPE>(com::VT_ARRAY | com::VT_BSTR)});
  if (!d.units.empty()) list.push_back({kPropEuUnits, "EU Units", com::VT_BSTR});
  if (!d.description.empty()) list.push_back({kPropDescription, "Item Description", com::VT_BSTR});
  if (d.euType == com::OPC_ANALOG) {
    list.push_back({kPropHighEu, "High EU", com::VT_R8});
    list.push_back({kPropLowEu, "Low EU", com::VT_R8});
  }
  return list;
}

void EuInfo(const Item& item, com::VARIANT* value) {
  const ItemDefinition& d = item.definition;
  if (d.euType == com::OPC_ANALOG) {
    com::SAFEARRAY* range = com::SafeArrayCreateVector(com::VT_R8, 0, 2);
    if (!range) return;
    double limits[2] = {d.euLow, d.euHigh};
    for (com::LONG i = 0; i < 2; ++i) com::SafeArrayPutElement(range, &i, &limits[i]);
    value->vt = com::VT_ARRAY | com::VT_R8;
    value->parray = range;
  } else if (d.euType == com::OPC_ENUMERATED) {
    const auto count = static_cast<com::ULONG>(d.euTexts.size());
    com::SAFEARRAY* texts = com::SafeArrayCreateVector(com::VT_BSTR, 0, count);
    if (!texts) return;
    for (com::LONG i = 0; i < static_cast<com::LONG>(count); ++i) {
      com::BSTR text = com::SysAllocStringUtf8(d.euTexts[static_cast<std::size_t>(i)]);
      com::SafeArrayPutElement(texts, &i, text);  // stores a copy
      com::SysFreeString(text);
    }
    value->vt = com::VT_ARRAY | com::VT_BSTR;
    value->parray = texts;
  }
}

com::HRESULT PropertyValue(const AddressSpace& space, const Item& item, com::DWORD id,
                           com::VARIANT* value) {
  bool available = false;
  for (const PropertyInfo& info : AvailableProperties(item)) available = available || info.id == id;
  if (!available) return com::OPC_E_INVALID_PID;
  const ItemDefinition& d = item.definition;
  switch (id) {
    case kPropCanonicalType:
      value->vt = com::VT_I2;
      value->iVal = static_cast<com::SHORT>(d.canonicalType);
      break;
    case kPropValue:
      return com::VariantCopy(value, space.Read(item).value.get());
    case kPropQuality:
      value->vt = com::VT_I2;
      value->iVal = static_cast<com::SHORT>(space.Read(item).quality);
      break;
    case kPropTimeStamp:
      value->vt = com::VT_DATE;
      value->date = FileTimeToDate(space.Read(item).timeStamp);
      break;
    case kPropAccessRights:
    case kPropEuType:
      value->vt = com::VT_I4;
      value->lVal = static_cast<com::LONG>(id == kPropEuType ? d.euType : d.accessRights);
      break;
    case kPropScanRate:
      value->vt = com::VT_R4;
      value->fltVal = static_cast<float>(kFastestRateMs);
      break;
    case kPropEuInfo:
      EuInfo(item, value);
      break;
    case kPropEuUnits:
      SetText(value, d.units);
      break;
    case kPropDescription:
      SetText(value, d.description);
      break;
    case kPropHighEu:
      SetDouble(value, d.euHigh);
      break;
    case kPropLowEu:
      SetDouble(value, d.euLow);
      break;
  }
  return com::S_OK;
}

}  // namespace tagwell::server

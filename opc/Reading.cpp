#include "opc/Reading.h"

#include <charconv>
#include <cstring>
#include <string>

#include "opc/Connection.h"
#include "opc/Items.h"
#include "opc/Log.h"
#include "opc/Prefetch.h"
#include "opc/Reconnect.h"
#include "opc/TextHelpers.h"

namespace tagwell {
namespace {

// ReadGroup and ReadItem differ in a few details of the value text.
enum class Reader { Group, Item };

constexpr std::size_t kValueTextLimit = decltype(ClientState::szValueText)::kCapacity - 1;

bool IsRow(int row) {
  return row >= 0 && row < MAX_ITEMS;
}

// One IOPCSyncIO::Read of one item from the device, or the answer a batch
// read kept for its row (opc/Prefetch.h). The sync interface is queried for
// the call and released after it; what the server handed out is freed when
// the object goes.
class DeviceRead final {
 public:
  DeviceRead(Client& client, com::IOPCItemMgt* itemMgt, int row, OPCHANDLE handle)
      : client_(client) {
    if (std::optional<PrefetchedRead> kept = TakePrefetchedRead(client, row, handle)) {
      Keep(std::move(*kept));
      return;
    }
    com::IOPCSyncIO* ptrIOPCSyncIO = nullptr;
    hr_ = QueryInterfaceInto(itemMgt, com::IID_IOPCSyncIO, &ptrIOPCSyncIO);
    if (com::FAILED(hr_)) return;
    hr_ = ptrIOPCSyncIO->Read(com::OPC_DS_DEVICE, 1, &handle, &ptrItemState_, &ptrErrors_);
    ptrIOPCSyncIO->Release();
  }
  ~DeviceRead() {
    if (ptrItemState_ == &kept_) {
      com::VariantClear(&kept_.vDataValue);
      return;
    }
    FreeServerMemory(client_, ptrErrors_);
    if (!ptrItemState_) return;
    // A failed call hands out nothing valid to clear.
    if (com::SUCCEEDED(hr_)) com::VariantClear(&ptrItemState_->vDataValue);
    FreeServerMemory(client_, ptrItemState_);
  }
  DeviceRead(const DeviceRead&) = delete;
  DeviceRead& operator=(const DeviceRead&) = delete;

  // The item's own result counts: an item state that comes with an error is
  // not a reading (its value and quality are undefined).
  bool ok() const {
    return com::SUCCEEDED(hr_) && ptrItemState_ && !(ptrErrors_ && com::FAILED(ptrErrors_[0]));
  }
  com::OPCITEMSTATE& state() { return *ptrItemState_; }
  HRESULT hr() const { return hr_; }

 private:
  // The kept answer as the call for this item alone would have given it.
  void Keep(PrefetchedRead kept) {
    keptError_ = kept.itemError;
    hr_ = com::FAILED(keptError_) ? com::S_FALSE : com::S_OK;
    kept_.hClient = 1;
    kept_.ftTimeStamp = kept.ftTimeStamp;
    kept_.wQuality = kept.wQuality;
    com::VariantInit(&kept_.vDataValue);
    com::VariantCopy(&kept_.vDataValue, kept.value.get());
    ptrItemState_ = &kept_;
    ptrErrors_ = &keptError_;
  }

  Client& client_;
  HRESULT hr_ = com::E_FAIL;
  com::OPCITEMSTATE* ptrItemState_ = nullptr;
  HRESULT* ptrErrors_ = nullptr;
  com::OPCITEMSTATE kept_{};
  HRESULT keptError_ = com::S_OK;
};

// "%.4f" without the process's numeric locale: the columns and the database
// always get a decimal point.
std::string FixedDecimal(double d) {
  char buf[400];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::fixed, 4);
  return ec == std::errc() ? std::string(buf, end) : std::string();
}

bool ToDouble(const com::VARIANT& value, double* d) {
  if (value.vt == com::VT_R8) {
    *d = value.dblVal;
    return true;
  }
  com::Variant converted;
  if (com::FAILED(com::VariantChangeType(converted.get(), &value, 0, com::VT_R8))) return false;
  *d = converted->dblVal;
  return true;
}

// The types with a row of their own in the value table.
bool IsScalarRowType(VARTYPE vt) {
  switch (vt) {
    case com::VT_I2:
    case com::VT_I4:
    case com::VT_R4:
    case com::VT_R8:
    case com::VT_BSTR:
    case com::VT_BOOL:
    case com::VT_UI2:
    case com::VT_UI4:
      return true;
    default:
      return false;
  }
}

bool IsArrayRowType(VARTYPE vt) {
  return vt == (com::VT_ARRAY | com::VT_R8) || vt == (com::VT_ARRAY | com::VT_UI1);
}

// A value the server delivered in another type than the item's canonical
// one is brought to the canonical type, so the column reads the right
// member. Values that do not convert stay as they are.
void NormaliseValue(com::VARIANT* value, VARTYPE canonical) {
  if (value->vt != canonical && (IsScalarRowType(canonical) || IsArrayRowType(canonical)))
    com::VariantChangeType(value, value, 0, canonical);
}

std::string ArrayElementText(VARTYPE elementType, const unsigned char* data, com::ULONG index) {
  switch (elementType) {
    case com::VT_R8: {
      double d;
      std::memcpy(&d, data + index * sizeof d, sizeof d);
      return FixedDecimal(d);
    }
    case com::VT_R4: {
      float f;
      std::memcpy(&f, data + index * sizeof f, sizeof f);
      return FixedDecimal(f);
    }
    case com::VT_UI1:
      return std::to_string(data[index]);
    default:
      return "?";
  }
}

// "[n] e1 e2 ...": the element count, then the elements (numbers "%.4f",
// bytes as integers), cut with " ..." where the value text would overflow.
std::string ArrayText(const com::VARIANT& value) {
  com::SAFEARRAY* array = (value.vt & com::VT_ARRAY) ? value.parray : nullptr;
  com::LONG lower = 0, upper = -1;
  if (!array || com::FAILED(com::SafeArrayGetLBound(array, 1, &lower)) ||
      com::FAILED(com::SafeArrayGetUBound(array, 1, &upper)))
    return "[0]";
  const com::ULONG count = upper >= lower ? static_cast<com::ULONG>(upper - lower) + 1 : 0;
  std::string text = "[" + std::to_string(count) + "]";
  void* data = nullptr;
  if (count == 0 || com::FAILED(com::SafeArrayAccessData(array, &data))) return text;
  constexpr std::string_view kCut = " ...";
  const VARTYPE elementType = value.vt & com::VT_TYPEMASK;
  for (com::ULONG i = 0; i < count; ++i) {
    std::string piece = " " + ArrayElementText(elementType, static_cast<unsigned char*>(data), i);
    if (text.size() + piece.size() + kCut.size() > kValueTextLimit) {
      text += kCut;
      break;
    }
    text += piece;
  }
  com::SafeArrayUnaccessData(array);
  return text;
}

// The value as text for a value that fits no row of its item's type.
std::string PlainText(const com::VARIANT& value) {
  com::Variant text;
  if (com::FAILED(com::VariantChangeType(text.get(), &value, 0, com::VT_BSTR))) return {};
  return WideText(text->bstrVal);
}

void SetFloat(CurrentReading& r, float f) {
  r.floatValue = f;
  r.floatFromDouble = false;
  r.valueType = 4;
  r.floatTypeName = "float";
}

// An analog reading is a float by its type word; a 64-bit value keeps its
// digits for the recording.
void SetAnalog(CurrentReading& r, const com::VARIANT& value, double d) {
  SetFloat(r, static_cast<float>(d));
  if (value.vt == com::VT_R4) return;
  r.doubleValue = d;
  r.floatFromDouble = true;
}

void SetDouble(CurrentReading& r, double d) {
  r.doubleValue = d;
  r.valueType = 5;
  r.doubleTypeName = "double";
}

void SetLong(CurrentReading& r, std::int32_t n) {
  r.longValue = n;
  r.valueType = 3;
  r.longTypeName = "long";
}

// The rows of the value table whose types are numbers or text. The value
// has been normalised to canonical; false when it still is of another type.
bool FormatTypedValue(Client& client, const com::VARIANT& value, VARTYPE canonical) {
  FixedText<1024>& text = client.state.szValueText;
  CurrentReading& r = client.reading;
  if (value.vt != canonical) return false;
  switch (canonical) {
    case com::VT_I2:
      text.Format("%d", static_cast<int>(value.iVal));
      r.integerValue = value.iVal;
      r.valueType = 2;
      r.integerTypeName = "integer";
      return true;
    case com::VT_I4:
      text.Format("%ld", static_cast<long>(value.lVal));
      SetLong(r, value.lVal);
      return true;
    case com::VT_R4:
      text = FixedDecimal(value.fltVal);
      SetFloat(r, value.fltVal);
      return true;
    case com::VT_R8:
      text = FixedDecimal(value.dblVal);
      SetDouble(r, value.dblVal);
      return true;
    case com::VT_BSTR:
      text = WideText(value.bstrVal);
      r.stringValue = value.bstrVal;
      r.valueType = 6;
      r.stringTypeName = "string";
      return true;
    case com::VT_BOOL: {
      const int normalised = (value.boolVal == -1 || value.boolVal == 1) ? 1 : 0;
      text.Format("%d", normalised);
      r.booleanValue = static_cast<std::int16_t>(normalised);
      r.valueType = 1;
      r.booleanTypeName = "boolean";
      return true;
    }
    case com::VT_UI2:
      text.Format("%u", static_cast<unsigned>(value.uiVal));
      SetLong(r, value.uiVal);
      return true;
    case com::VT_UI4:
      text.Format("%lu", static_cast<unsigned long>(value.ulVal));
      SetLong(r, static_cast<std::int32_t>(value.ulVal));
      return true;
    default:
      return false;
  }
}

// Builds szValueText and, for a reading that can be recorded, the value
// fields of CurrentReading. Returns whether the reading is recordable:
// VT_VARIANT and array items, and values that fit no row, are shown only.
bool FormatValue(Client& client, const com::VARIANT& value, VARTYPE canonical, WORD euType,
                 Reader reader) {
  FixedText<1024>& text = client.state.szValueText;
  double d = 0;
  if (euType != 0 && ToDouble(value, &d)) {
    text = FixedDecimal(d);
    SetAnalog(client.reading, value, d);
    return true;
  }
  if (canonical == com::VT_VARIANT) {
    text.Format(reader == Reader::Group ? "%.4d" : "%d", static_cast<int>(value.vt));
    return false;
  }
  if (IsArrayRowType(canonical)) {
    text = ArrayText(value);
    return false;
  }
  if (IsScalarRowType(canonical)) {
    if (FormatTypedValue(client, value, canonical)) return true;
  } else if (ToDouble(value, &d)) {  // VT_EMPTY and every type without a row of its own
    text = FixedDecimal(d);
    SetDouble(client.reading, d);
    return true;
  }
  text = PlainText(value);
  return false;
}

void FillReadingTime(Client& client, const com::SYSTEMTIME& stime, const char* qualityText) {
  CurrentReading& r = client.reading;
  r.itemName = client.state.szReadItemName.c_str();
  r.qualityText = qualityText;
  r.second = stime.wSecond;
  r.minute = stime.wMinute;
  r.hour = stime.wHour;
  r.year = stime.wYear;
  r.month = stime.wMonth;
  r.day = stime.wDay;
}

void SetTimeText(Client& client, const com::SYSTEMTIME& st) {
  client.state.szTimeText.Format("%d:%d:%d, %d.%d.%d", st.wHour, st.wMinute, st.wSecond, st.wDay,
                                 st.wMonth, st.wYear);
}

// A string item widens the columns so that long texts can be scrolled.
void WidenColumns(Client& client) {
  const WindowPorts& ui = client.ui;
  for (ui::ListBox* box : {ui.itemNames, ui.values})
    if (box) box->SetHorizontalExtent(1000);
  for (ui::ListBox* box : {ui.timeStamps, ui.qualities, ui.types})
    if (box) box->SetHorizontalExtent(300);
}

void ShowReading(Client& client, const char* qualityText) {
  const int row = client.state.currentRow;
  SetColumnRow(client.ui.values, row, client.state.szValueText.view());
  SetColumnRow(client.ui.timeStamps, row, client.state.szTimeText.view());
  SetColumnRow(client.ui.qualities, row, qualityText);
}

// A STAND BY client leaves the recording to the ACTIVE one, for every
// reading.
bool MayRecord(const ClientState& s) {
  return s.databaseWriting == 1 && !StandsBy(s);
}

void Record(Client& client) {
  if (client.writeDatabase) client.writeDatabase(client);
}

// The 32-bit integer of the value (the heartbeat item is VT_I4; other
// integer types are converted).
int IntegerOf(const com::VARIANT& value) {
  if (value.vt == com::VT_I4) return value.lVal;
  com::Variant converted;
  if (com::FAILED(com::VariantChangeType(converted.get(), &value, 0, com::VT_I4))) return 0;
  return converted->lVal;
}

// The out value is cleared after each read; the borrowed string of the
// reading goes with it.
void FinishRead(Client& client, com::VARIANT* value) {
  com::VariantClear(value);
  client.reading.stringValue = nullptr;
}

}  // namespace

int ReadGroup(Client& client, com::IOPCItemMgt* itemMgt, OPCHANDLE /*serverHandle*/,
              com::VARIANT* value) {
  constexpr const char* kCaption = "ReadGroup function";
  ClientState& s = client.state;
  const int k = s.currentItem;
  if (!IsRow(k)) return 1;
  ItemRecord& row = client.table.rows[k];
  s.szReadItemName = WideText(row.itemName.c_str());
  if (s.serverLost || RefuseWithoutGroup(client, itemMgt, kCaption)) return 1;

  DeviceRead read(client, itemMgt, k, client.table.serverHandles[k]);
  if (MarkServerLost(client, read.hr())) return 1;
  if (!read.ok()) {
    FixedText<1024> msgBox;
    msgBox.Format("Error reading item number %d.\nProbably doesn't exist or deleted from Server.",
                  k + 1);
    ShowWarning(client, msgBox.view(), kCaption);
    LogReadGroupError(client);
    return 1;
  }
  com::OPCITEMSTATE& state = read.state();
  NormaliseValue(&state.vDataValue, row.vtCanonical);
  com::VariantCopy(row.vValue.get(), &state.vDataValue);
  com::VariantCopy(value, &state.vDataValue);
  row.ftTimeStamp = state.ftTimeStamp;
  const com::SYSTEMTIME stime = LocalSystemTime(state.ftTimeStamp);
  SetTimeText(client, stime);
  row.wQuality = state.wQuality;
  const char* qualityText = QualityText(state.wQuality);

  const bool recordable = FormatValue(client, *value, row.vtCanonical, row.euType, Reader::Group);
  if (recordable) FillReadingTime(client, stime, qualityText);
  if (row.vtCanonical == com::VT_BSTR) WidenColumns(client);
  ShowReading(client, qualityText);
  if (k == 0) s.monitorValueRead = IntegerOf(*value);
  if (recordable && MayRecord(s)) Record(client);
  FinishRead(client, value);
  return 0;
}

int ReadItem(Client& client, com::IOPCItemMgt* itemMgt, OPCHANDLE serverHandle, com::VARIANT* value,
             WORD* quality) {
  constexpr const char* kCaption = "ReadItem function";
  ClientState& s = client.state;
  s.szReadItemName = WideText(s.wszItemName);
  if (s.serverLost || RefuseWithoutGroup(client, itemMgt, kCaption)) return 1;

  DeviceRead read(client, itemMgt, s.currentRow, serverHandle);
  if (MarkServerLost(client, read.hr())) return 1;
  if (!read.ok()) {
    ShowWarning(client, "Error reading item's data", kCaption);
    LogReadItemError(client);
    return 1;
  }
  ItemRecord* row = IsRow(s.currentRow) ? &client.table.rows[s.currentRow] : nullptr;
  const VARTYPE canonical = row ? row->vtCanonical : VARTYPE{com::VT_EMPTY};
  com::OPCITEMSTATE& state = read.state();
  NormaliseValue(&state.vDataValue, canonical);
  com::VariantCopy(value, &state.vDataValue);
  if (quality) *quality = state.wQuality;
  if (row) row->ftTimeStamp = state.ftTimeStamp;
  const com::SYSTEMTIME stime = LocalSystemTime(state.ftTimeStamp);
  SetTimeText(client, stime);
  const char* qualityText = QualityText(state.wQuality);

  const bool recordable =
      FormatValue(client, *value, canonical, row ? row->euType : 0, Reader::Item);
  if (recordable) FillReadingTime(client, stime, qualityText);
  ShowReading(client, qualityText);
  if (recordable && MayRecord(s)) Record(client);
  FinishRead(client, value);
  return 0;
}

const char* QualityText(WORD quality) {
  // The limit bits (low, high, constant) do not change what the quality
  // says; the high byte is the vendor's.
  const WORD word = quality & 0xFC;
  switch (word) {
    case com::OPC_QUALITY_GOOD:
      return "Good";
    case com::OPC_QUALITY_LOCAL_OVERRIDE:
      return "Good - local override. Forced value";
    case com::OPC_QUALITY_BAD:
      return "Bad";
    case com::OPC_QUALITY_CONFIG_ERROR:
      return "Bad - configuration error in server";
    case com::OPC_QUALITY_NOT_CONNECTED:
      return "Bad - not connected";
    case com::OPC_QUALITY_DEVICE_FAILURE:
      return "Bad - device failure";
    case com::OPC_QUALITY_LAST_KNOWN:
      return "Bad - last known value is passed";
    case com::OPC_QUALITY_COMM_FAILURE:
      return "Bad - communication error";
    case com::OPC_QUALITY_UNCERTAIN:
      return "Uncertain";
    case com::OPC_QUALITY_LAST_USABLE:
      return "Uncertain - last good (usable) value";
    case com::OPC_QUALITY_EGU_EXCEEDED:
      return "Uncertain - exceeded limits for engineering units";
    default:
      break;
  }
  // A substatus without a text of its own reads as its major quality (bits
  // 7-6). The major quality 10 (0x80 to 0xBF) is not used by OPC; like any
  // word without a text of its own, it reads "Uncertain".
  switch (word & 0xC0) {
    case 0x00:
      return "Bad";
    case 0xC0:
      return "Good";
    default:
      return "Uncertain";
  }
}

com::SYSTEMTIME LocalSystemTime(const FILETIME& utc) {
  com::FILETIME local{};
  com::SYSTEMTIME st{};
  if (!com::FileTimeToLocalFileTime(&utc, &local) || !com::FileTimeToSystemTime(&local, &st))
    return com::SYSTEMTIME{};
  return st;
}

}  // namespace tagwell

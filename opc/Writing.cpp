#include "opc/Writing.h"

#include <cctype>
#include <cmath>
#include <cstdint>
#include <optional>

#include "opc/Connection.h"
#include "opc/Items.h"
#include "opc/Log.h"
#include "opc/Numbers.h"
#include "opc/Reconnect.h"
#include "opc/TextHelpers.h"
#include "platform/com/Runtime.h"

namespace tagwell {
namespace {

constexpr const char* kMonitorItemName = "OPC.ConnectionMonitor";
// Room of the wide buffer a typed string is converted into, in characters.
constexpr std::size_t kWriteStringLimit = 512;

struct WholeRange {
  long long low, high;
};

std::optional<WholeRange> WholeRangeOf(VARTYPE vt) {
  switch (vt) {
    case com::VT_I2:
      return WholeRange{INT16_MIN, INT16_MAX};
    case com::VT_UI2:
      return WholeRange{0, UINT16_MAX};
    case com::VT_I4:
      return WholeRange{INT32_MIN, INT32_MAX};
    case com::VT_UI4:
      return WholeRange{0, UINT32_MAX};
    default:
      return std::nullopt;
  }
}

WriteConversion WholeValue(const char* text, VARTYPE vt, com::VARIANT* value) {
  const WholeRange range = *WholeRangeOf(vt);
  long long n = 0;
  if (ParseWholeNumber(text, &n) != WholeNumberParse::Ok || n < range.low || n > range.high)
    return WriteConversion::Refused;
  if (vt == com::VT_I2) value->iVal = static_cast<com::SHORT>(n);
  if (vt == com::VT_UI2) value->uiVal = static_cast<com::USHORT>(n);
  if (vt == com::VT_I4) value->lVal = static_cast<com::LONG>(n);
  if (vt == com::VT_UI4) value->ulVal = static_cast<com::ULONG>(n);
  return WriteConversion::Converted;
}

// A number of the real types; a VT_R4 value must not round to infinity.
WriteConversion RealValue(const char* text, VARTYPE vt, com::VARIANT* value) {
  const std::optional<double> d = ParseNumber(text);
  if (!d) return WriteConversion::Refused;
  if (vt == com::VT_R8) {
    value->dblVal = *d;
    return WriteConversion::Converted;
  }
  const auto f = static_cast<float>(*d);
  if (std::isinf(f)) return WriteConversion::Refused;
  value->fltVal = f;
  return WriteConversion::Converted;
}

WriteConversion BooleanValue(const char* text, com::VARIANT* value) {
  std::string word(text);
  word.erase(0, word.find_first_not_of(" \t"));
  word.erase(word.find_last_not_of(" \t") + 1);  // npos + 1 is 0: all blank
  for (char& c : word) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (word == "1" || word == "-1" || word == "true") {
    value->boolVal = com::VARIANT_TRUE;
  } else if (word == "0" || word == "false") {
    value->boolVal = com::VARIANT_FALSE;
  } else {
    return WriteConversion::Refused;
  }
  return WriteConversion::Converted;
}

}  // namespace

WriteConversion WriteValueFromText(const char* text, VARTYPE vt, com::VARIANT* value) {
  com::VARIANT converted;
  com::VariantInit(&converted);
  WriteConversion result = WriteConversion::NoConversion;
  if (WholeRangeOf(vt)) {
    result = WholeValue(text, vt, &converted);
  } else if (vt == com::VT_R4 || vt == com::VT_R8) {
    result = RealValue(text, vt, &converted);
  } else if (vt == com::VT_BOOL) {
    result = BooleanValue(text, &converted);
  } else if (vt == com::VT_BSTR) {
    std::u16string szWriteString = com::Utf8ToUtf16(text);
    if (szWriteString.size() > kWriteStringLimit) szWriteString.resize(kWriteStringLimit);
    converted.bstrVal = WideToBstr(szWriteString.c_str());
    result = WriteConversion::Converted;
  }
  if (result != WriteConversion::Converted) return result;
  converted.vt = vt;
  *value = converted;
  return result;
}

std::string WriteValueRange(VARTYPE vt) {
  if (const auto range = WholeRangeOf(vt))
    return "a whole number from " + std::to_string(range->low) + " to " +
           std::to_string(range->high);
  if (vt == com::VT_R4) return "a number from -3.402823e+38 to 3.402823e+38, with a decimal point";
  if (vt == com::VT_R8)
    return "a number from -1.797693e+308 to 1.797693e+308, with a decimal point";
  if (vt == com::VT_BOOL) return "1, -1 or true to set it, 0 or false to clear it";
  return "any text";
}

namespace {

// One IOPCSyncIO::Write of one item, the sync interface queried and released
// around it. The item's own result counts: a refused item (a read-only one)
// is a failed write; *error is the item's error, else the call's result.
// A call that finds the server gone starts the outage (MarkServerLost) and
// fails.
bool SyncWrite(Client& client, com::IOPCItemMgt* itemMgt, OPCHANDLE handle,
               com::VARIANT* vtWriteValue, bool* lost = nullptr, HRESULT* error = nullptr) {
  com::IOPCSyncIO* ptrIOPCSyncIO = nullptr;
  HRESULT hr = QueryInterfaceInto(itemMgt, com::IID_IOPCSyncIO, &ptrIOPCSyncIO);
  HRESULT* ptrErrors = nullptr;
  if (com::SUCCEEDED(hr)) {
    hr = ptrIOPCSyncIO->Write(1, &handle, vtWriteValue, &ptrErrors);
    ptrIOPCSyncIO->Release();
  }
  const bool itemFailed = ptrErrors && com::FAILED(ptrErrors[0]);
  if (error) *error = itemFailed ? ptrErrors[0] : hr;
  FreeServerMemory(client, ptrErrors);
  const bool gone = MarkServerLost(client, hr);
  if (lost) *lost = gone;
  return com::SUCCEEDED(hr) && !itemFailed;
}

// A write the server refused (its rights, the item's range, what the
// device answered): the box keeps its old words and adds the server's
// reason; every refusal is a log line.
void ShowWriteRefused(Client& client, const ItemRecord& row, HRESULT error) {
  const std::string name = WideText(row.itemName.c_str());
  const std::string reason = ServerErrorText(client, error);
  FixedText<1024> msgBox;
  msgBox.Format("Error writing data of item %s!\nProbaly read-only.\n%s", name.c_str(),
                reason.c_str());
  ShowWarning(client, msgBox.view(), "ReadGroup function");
  LogWriteRefused(client, name, reason);
}

// A write that finds the connection gone shuts COM down and stops the
// reading and the recording; the interfaces stay until Disconnect.
void DropConnection(ClientState& s) {
  com::CoUninitialize();
  s.currentRow = 0;
  s.currentItem = 0;
  s.readingStarted = 0;
  s.databaseWriting = 0;
  s.connected = 0;
  s.remoteMode = 0;
}

// The row must also be a row of the Item name column: after a Disconnect the
// table still holds the previous session's rows.
bool RowIsSelected(const Client& client) {
  const ClientState& s = client.state;
  const int rows = client.ui.itemNames ? client.ui.itemNames->GetCount() : 0;
  return s.currentItem >= 0 && s.currentItem <= s.lastRowIndex && s.currentItem < MAX_ITEMS &&
         s.currentItem < rows;
}

void ShowNotWritable(Client& client, const ItemRecord& row) {
  FixedText<1024> msgBox;
  msgBox.Format("Error: no value can be written to item %s:\nits data type %s has no conversion.",
                WideText(row.itemName.c_str()).c_str(), CanonicalTypeText(row.vtCanonical));
  ShowWarning(client, msgBox.view(), "Write Item");
}

void ShowRefusedText(Client& client, const ItemRecord& row, const char* text) {
  FixedText<1024> msgBox;
  msgBox.Format(
      "Error: \"%s\" cannot be written to item %s:\nthe item takes %s.\nNothing was written.", text,
      WideText(row.itemName.c_str()).c_str(), WriteValueRange(row.vtCanonical).c_str());
  ShowWarning(client, msgBox.view(), "Write Item");
}

// Row 0 receives the heartbeat only while it is the heartbeat item.
bool MonitorItemInRowZero(const Client& client) {
  return client.state.lastRowIndex >= 0 &&
         WideText(client.table.rows[0].itemName.c_str()) == kMonitorItemName;
}

// monitorValueNext as a number of the heartbeat item's type.
bool MonitorValue(const Client& client, com::VARIANT* vtWriteValue) {
  const VARTYPE vt = client.table.rows[0].vtCanonical;
  if (vt == com::VT_EMPTY || vt == com::VT_VARIANT || (vt & com::VT_ARRAY)) return false;
  com::Variant number;
  number->vt = com::VT_I4;
  number->lVal = client.state.monitorValueNext;
  return com::SUCCEEDED(com::VariantChangeType(vtWriteValue, number.get(), 0, vt));
}

}  // namespace

int WriteItem(Client& client, com::IOPCItemMgt* itemMgt, OPCHANDLE /*serverHandle*/,
              com::VARIANT* /*value*/) {
  constexpr const char* kCaption = "ReadGroup function";
  constexpr const char* kRoleCaption = "Write Item";
  ClientState& s = client.state;
  if (s.connected == 0) {
    ShowWarning(client, "Error writing value: check connection with OPC server.", kCaption);
    DropConnection(s);
    LogWriteNotConnected(client);
    return 1;
  }
  if (!RowIsSelected(client)) {
    ShowWarning(client, "Error: item is not selected in column \"Item Name\".", kRoleCaption);
    return 1;
  }
  // In an outage the operator has been told; the Write Item command refuses.
  if (s.serverLost) return 1;
  if (RefuseWithoutGroup(client, itemMgt, kRoleCaption)) return 1;
  const ItemRecord& row = client.table.rows[s.currentItem];
  com::Variant vtWriteValue;
  switch (WriteValueFromText(s.writeText.c_str(), row.vtCanonical, vtWriteValue.get())) {
    case WriteConversion::Converted:
      break;
    case WriteConversion::Refused:
      ShowRefusedText(client, row, s.writeText.c_str());
      return 1;
    case WriteConversion::NoConversion:
      ShowNotWritable(client, row);
      return 1;
  }
  if (s.monitorItemPresent == 1 && s.isActive != 1) {
    ShowWarning(client, "Error: only \"active\" client can write in the item!", kRoleCaption);
    return 1;
  }
  bool lost = false;
  HRESULT error = com::S_OK;
  if (!SyncWrite(client, itemMgt, client.table.serverHandles[s.currentItem], vtWriteValue.get(),
                 &lost, &error)) {
    if (!lost) ShowWriteRefused(client, row, error);
    return 1;
  }
  return 0;
}

int WriteConnectionMonitor(Client& client, com::IOPCItemMgt* itemMgt, OPCHANDLE /*serverHandle*/,
                           com::VARIANT* /*value*/) {
  constexpr const char* kCaption = "Connection monitor";
  ClientState& s = client.state;
  s.monitorError = 0;
  if (s.connected == 0) {
    ShowWarning(client, "*** Error writing connection monitor value. ***", kCaption);
    s.monitorError = 1;
    DropConnection(s);
    LogMonitorWriteNotConnected(client);
    return 1;
  }
  if (s.serverLost) return 1;
  com::Variant vtWriteValue;
  bool lost = false;
  if (!itemMgt || !MonitorItemInRowZero(client) || !MonitorValue(client, vtWriteValue.get()) ||
      !SyncWrite(client, itemMgt, client.table.serverHandles[0], vtWriteValue.get(), &lost)) {
    if (lost) return 1;
    s.monitorError = 1;
    ShowWarning(client, "Error writing OPC.ConnectionMonitor value.", kCaption);
    return 1;
  }
  return 0;
}

}  // namespace tagwell

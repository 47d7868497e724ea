#include "opc/Writing.h"

#include <locale.h>

#include <climits>
#include <cstdint>
#include <cstdlib>

#include "opc/Connection.h"
#include "opc/Items.h"
#include "opc/Log.h"
#include "opc/Reconnect.h"
#include "opc/TextHelpers.h"
#include "platform/com/Runtime.h"

namespace tagwell {
namespace {

constexpr const char* kMonitorItemName = "OPC.ConnectionMonitor";
// Room of the wide buffer a typed string is converted into, in characters.
constexpr std::size_t kWriteStringLimit = 512;

// The numeric conversions of typed text read the decimal point whatever the
// desktop's locale is; like atof they skip leading blanks, stop at the first
// character that does not fit and give 0 for text without a number.
double TextToDouble(const char* text) {
  static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  return cLocale ? strtod_l(text, nullptr, cLocale) : std::strtod(text, nullptr);
}

// The leading integer of text, clamped to [low, high] as atoi/atol clamp an
// overflow.
long long TextToInteger(const char* text, long long low, long long high) {
  long long n = std::strtoll(text, nullptr, 10);
  return n < low ? low : (n > high ? high : n);
}

std::int32_t TextToInt32(const char* text) {
  return static_cast<std::int32_t>(TextToInteger(text, INT32_MIN, INT32_MAX));
}

// Unsigned items take their whole range; a negative text keeps the bits of
// the 32-bit signed number, as a signed conversion would store it.
com::ULONG TextToUInt32(const char* text) {
  return static_cast<com::ULONG>(TextToInteger(text, INT32_MIN, UINT32_MAX));
}

}  // namespace

bool WriteValueFromText(const char* text, VARTYPE vt, com::VARIANT* value) {
  switch (vt) {
    case com::VT_I2:
      value->iVal = static_cast<com::SHORT>(TextToInt32(text));
      break;
    case com::VT_I4:
      value->lVal = TextToInt32(text);
      break;
    case com::VT_R4:
      value->fltVal = static_cast<float>(TextToDouble(text));
      break;
    case com::VT_R8:
      value->dblVal = TextToDouble(text);
      break;
    case com::VT_BSTR: {
      std::u16string szWriteString = com::Utf8ToUtf16(text);
      if (szWriteString.size() > kWriteStringLimit) szWriteString.resize(kWriteStringLimit);
      value->bstrVal = WideToBstr(szWriteString.c_str());
      break;
    }
    case com::VT_BOOL:
      value->boolVal = static_cast<com::VARIANT_BOOL>(TextToInt32(text));
      break;
    case com::VT_UI2:
    case com::VT_UI4:
      value->ulVal = TextToUInt32(text);
      break;
    default:
      return false;
  }
  value->vt = vt;
  return true;
}

namespace {

// One IOPCSyncIO::Write of one item, the sync interface queried and released
// around it. The item's own result counts: a refused item (a read-only one)
// is a failed write.
// A call that finds the server gone starts the outage (MarkServerLost) and
// fails.
bool SyncWrite(Client& client, com::IOPCItemMgt* itemMgt, OPCHANDLE handle,
               com::VARIANT* vtWriteValue, bool* lost = nullptr) {
  com::IOPCSyncIO* ptrIOPCSyncIO = nullptr;
  HRESULT hr = QueryInterfaceInto(itemMgt, com::IID_IOPCSyncIO, &ptrIOPCSyncIO);
  HRESULT* ptrErrors = nullptr;
  if (com::SUCCEEDED(hr)) {
    hr = ptrIOPCSyncIO->Write(1, &handle, vtWriteValue, &ptrErrors);
    ptrIOPCSyncIO->Release();
  }
  const bool ok = com::SUCCEEDED(hr) && !(ptrErrors && com::FAILED(ptrErrors[0]));
  FreeServerMemory(client, ptrErrors);
  const bool gone = MarkServerLost(client, hr);
  if (lost) *lost = gone;
  return ok;
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

bool RowIsSelected(const ClientState& s) {
  return s.currentItem >= 0 && s.currentItem <= s.lastRowIndex && s.currentItem < MAX_ITEMS;
}

void ShowNotWritable(Client& client, const ItemRecord& row) {
  FixedText<1024> msgBox;
  msgBox.Format("Error: no value can be written to item %s:\nits data type %s has no conversion.",
                WideText(row.itemName.c_str()).c_str(), CanonicalTypeText(row.vtCanonical));
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
  if (!RowIsSelected(s)) {
    ShowWarning(client, "Error: item is not selected in column \"Item Name\".", kRoleCaption);
    return 1;
  }
  // In an outage the operator has been told; the Write Item command refuses.
  if (s.serverLost) return 1;
  if (RefuseWithoutGroup(client, itemMgt, kRoleCaption)) return 1;
  const ItemRecord& row = client.table.rows[s.currentItem];
  com::Variant vtWriteValue;
  if (!WriteValueFromText(s.writeText.c_str(), row.vtCanonical, vtWriteValue.get())) {
    ShowNotWritable(client, row);
    return 1;
  }
  if (s.monitorItemPresent == 1 && s.isActive != 1) {
    ShowWarning(client, "Error: only \"active\" client can write in the item!", kRoleCaption);
    return 1;
  }
  bool lost = false;
  if (!SyncWrite(client, itemMgt, client.table.serverHandles[s.currentItem], vtWriteValue.get(),
                 &lost)) {
    if (lost) return 1;
    FixedText<1024> msgBox;
    msgBox.Format("Error writing data of item %s!\nProbaly read-only.",
                  WideText(row.itemName.c_str()).c_str());
    ShowWarning(client, msgBox.view(), kCaption);
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

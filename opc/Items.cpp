#include "opc/Items.h"

#include <cstdio>

#include "opc/Connection.h"
#include "opc/Log.h"
#include "opc/Prefetch.h"
#include "opc/Reconnect.h"
#include "opc/TextHelpers.h"

namespace tagwell {
namespace {

constexpr const char* kAddItemCaption = "AddItem function";
constexpr const char* kMonitorItemName = "OPC.ConnectionMonitor";
// The item property "Item EU Type".
constexpr com::DWORD kEuTypeProperty = 7;

// An enumerator that never ends is cut off after this many records; the
// group holds at most MAX_ITEMS items of this client.
constexpr int kMaxAttributeRecords = 64 * MAX_ITEMS;

bool IsRow(int row) {
  return row >= 0 && row < MAX_ITEMS;
}

// Row currentItem as a new addition: the name and client handle, nothing of
// an earlier item that used the row (so a refused item has no server handle
// and no type of its own).
ItemRecord& StartRow(Client& client) {
  const int k = client.state.currentItem;
  ItemRecord& row = client.table.rows[k];
  row = ItemRecord{};
  row.itemName = com::WideView(client.state.wszItemName);
  row.hClient = 1;
  client.table.serverHandles[k] = 0;
  return row;
}

// A row without an item on the server still has a line in every column, so
// the columns stay aligned with the table.
void ShowEmptyRow(Client& client) {
  const int row = client.state.currentRow;
  SetColumnRow(client.ui.values, row, "");
  SetColumnRow(client.ui.timeStamps, row, "");
  SetColumnRow(client.ui.qualities, row, "");
  SetColumnRow(client.ui.types, row, "");
}

void FreeAddResults(Client& client, com::OPCITEMRESULT* results, HRESULT* errors) {
  if (results) FreeServerMemory(client, results[0].pBlob);
  FreeServerMemory(client, results);
  FreeServerMemory(client, errors);
}

void FreeAttributes(Client& client, com::OPCITEMATTRIBUTES* record) {
  FreeServerMemory(client, record->szAccessPath);
  FreeServerMemory(client, record->szItemID);
  FreeServerMemory(client, record->pBlob);
  com::VariantClear(&record->vEUInfo);
  FreeServerMemory(client, record);
}

}  // namespace

bool RefuseWithoutGroup(Client& client, com::IOPCItemMgt* itemMgt, std::string_view caption) {
  if (itemMgt) return false;
  ShowWarning(client,
              "Error: there is no group on the OPC server (AddGroup failed).\nDisconnect and "
              "connect again.",
              caption);
  return true;
}

namespace {

void ShowTableFull(Client& client) {
  FixedText<1024> msgBox;
  msgBox.Format("Error: the item table is full (%d items).\nRemove an item before adding another.",
                MAX_ITEMS);
  ShowWarning(client, msgBox.view(), kAddItemCaption);
}

// An addition past the last row: the name the caller put into the column is
// taken out again and the cursors return to the last row.
void RefuseBeyondTable(Client& client) {
  ClientState& s = client.state;
  ShowTableFull(client);
  if (client.ui.itemNames && s.lastRowIndex >= MAX_ITEMS)
    client.ui.itemNames->DeleteString(s.lastRowIndex);
  s.lastRowIndex = MAX_ITEMS - 1;
  s.currentRow = MAX_ITEMS - 1;
}

// The server accepted the call but refused the item (S_FALSE): the reason
// is the server's text for the item's own error.
void ReportRefusedItem(Client& client, HRESULT itemError) {
  const std::string reason = ServerErrorText(client, itemError);
  const std::string name = client.state.szItemName.str();
  FixedText<1024> msgBox;
  msgBox.Format("Error: OPC server refused item %s:\n%s", name.c_str(), reason.c_str());
  ShowWarning(client, msgBox.view(), kAddItemCaption);
  LogItemRefused(client, name, reason);
}

void StoreAddedItem(Client& client, com::IOPCItemMgt* itemMgt, const com::OPCITEMRESULT& result,
                    OPCHANDLE* serverHandle) {
  ClientState& s = client.state;
  ItemRecord& row = client.table.rows[s.currentItem];
  s.lastServerHandle = result.hServer;
  *serverHandle = result.hServer;
  row.hServer = result.hServer;
  client.table.serverHandles[s.currentItem] = result.hServer;
  s.vtLastCanonical = result.vtCanonicalDataType;
  row.vtCanonical = result.vtCanonicalDataType;

  ReadItemAttributes(client, itemMgt);
  row.euType = s.lastEUType;
  SetColumnRow(client.ui.types, s.currentRow, CanonicalTypeText(row.vtCanonical));

  const FixedText<256> itemName(WideText(row.itemName.c_str()));
  if (s.currentItem == 0 && itemName == kMonitorItemName) s.monitorItemPresent = 1;
  LogItemAdded(client, itemName.view(), EuTypeText(s.lastEUType));
  s.currentItem += 1;
}

// AddItem's outcome from the answer a batch kept for the row: the same
// steps as for an answer of its own.
int StoreKeptAddition(Client& client, com::IOPCItemMgt* itemMgt, const PrefetchedAdd& kept,
                      OPCHANDLE* serverHandle) {
  if (kept.hr != com::S_OK) {
    ReportRefusedItem(client, kept.itemError);
    ShowEmptyRow(client);
    return 0;
  }
  com::OPCITEMRESULT result{};
  result.hServer = kept.hServer;
  result.vtCanonicalDataType = kept.canonical;
  StoreAddedItem(client, itemMgt, result, serverHandle);
  return 0;
}

}  // namespace

int AddGroup(Client& client, com::IOPCServer* server, com::IOPCItemMgt** itemMgt,
             OPCHANDLE* hServerGroup) {
  com::DWORD dwRevisedUpdateRate = 0;
  com::IUnknown* group = nullptr;
  HRESULT hr =
      server ? server->AddGroup(u"Group", com::FALSE, 100, 0, nullptr, nullptr, 0, hServerGroup,
                                &dwRevisedUpdateRate, com::IID_IOPCItemMgt, &group)
             : com::E_POINTER;
  if (com::FAILED(hr) || !group) {
    ReleaseInterface(group);
    *itemMgt = nullptr;
    ShowWarning(client, "Error: failed to add Group ", "AddGroup function");
    return 1;
  }
  *itemMgt = InterfaceFrom<com::IOPCItemMgt>(group);
  return 0;
}

int AddItem(Client& client, com::IOPCItemMgt* itemMgt, OPCHANDLE* serverHandle) {
  ClientState& s = client.state;
  if (s.lastRowIndex >= MAX_ITEMS) {
    RefuseBeyondTable(client);
    return 1;
  }
  if (s.lastRowIndex < 0) return 1;

  FreeWide(s.wszItemName);
  s.wszItemName = AnsiToWide(s.szItemName.c_str());
  s.currentItem = s.lastRowIndex;
  StartRow(client);
  s.lastServerHandle = 0;
  *serverHandle = 0;
  // In an outage the row waits for the reconnection, which adds it.
  if (s.serverLost || RefuseWithoutGroup(client, itemMgt, kAddItemCaption)) {
    ShowEmptyRow(client);
    return 1;
  }

  com::WCHAR accessPath[1] = {0};
  // Every item is asked for in its own canonical type: a type carried over
  // from another item would be converted by the server, wrapping or
  // rounding values, or refused.
  com::OPCITEMDEF itemdef{accessPath, s.wszItemName, com::FALSE, 1, 0, nullptr, com::VT_EMPTY, 0};
  com::OPCITEMRESULT* ptrAddResult = nullptr;
  HRESULT* ptrErrors = nullptr;
  if (const PrefetchedAdd* kept = PrefetchedAddFor(client, s.currentItem, s.wszItemName))
    return StoreKeptAddition(client, itemMgt, *kept, serverHandle);
  HRESULT hr = itemMgt->AddItems(1, &itemdef, &ptrAddResult, &ptrErrors);
  if (com::FAILED(hr) || !ptrAddResult) {
    FreeAddResults(client, ptrAddResult, ptrErrors);
    ShowEmptyRow(client);
    if (MarkServerLost(client, hr)) return 1;
    ShowWarning(client, "Error: failed to add  Item", kAddItemCaption);
    LogAddItemFailed(client);
    return 1;
  }
  if (hr != com::S_OK) {
    ReportRefusedItem(client, ptrErrors ? ptrErrors[0] : hr);
    FreeAddResults(client, ptrAddResult, ptrErrors);
    ShowEmptyRow(client);
    return 0;
  }
  StoreAddedItem(client, itemMgt, ptrAddResult[0], serverHandle);
  FreeAddResults(client, ptrAddResult, ptrErrors);
  return 0;
}

namespace {

// The EU type of the item just added (wszItemName) from the server's item
// properties: one call, whatever the group holds. False when the server
// has no item properties, so that the group's attributes are enumerated.
bool EuTypeFromProperties(Client& client, WORD* euType) {
  ClientState& s = client.state;
  if (!s.ptrIOPCItemProperties || !s.wszItemName) return false;
  com::DWORD propertyId = kEuTypeProperty;
  com::VARIANT* data = nullptr;
  HRESULT* errors = nullptr;
  const HRESULT hr =
      s.ptrIOPCItemProperties->GetItemProperties(s.wszItemName, 1, &propertyId, &data, &errors);
  if (hr == com::E_NOTIMPL) return false;
  *euType = 0;
  if (com::SUCCEEDED(hr) && data && !(errors && com::FAILED(errors[0]))) {
    com::Variant number;
    if (com::SUCCEEDED(com::VariantChangeType(number.get(), &data[0], 0, com::VT_I4)))
      *euType = static_cast<WORD>(number->lVal & 0xFFFF);
  }
  if (data && com::SUCCEEDED(hr)) com::VariantClear(&data[0]);
  FreeServerMemory(client, data);
  FreeServerMemory(client, errors);
  MarkServerLost(client, hr);
  return true;
}

}  // namespace

void ReadItemAttributes(Client& client, com::IOPCItemMgt* itemMgt) {
  ClientState& s = client.state;
  s.lastEUType = 0;
  WORD euType = 0;
  if (std::optional<WORD> kept = PrefetchedEuType(client, s.wszItemName)) {
    s.lastEUType = *kept;
    if (IsRow(s.currentItem)) client.table.rows[s.currentItem].euType = *kept;
    return;
  }
  if (EuTypeFromProperties(client, &euType)) {
    s.lastEUType = euType;
    if (IsRow(s.currentItem)) client.table.rows[s.currentItem].euType = euType;
    return;
  }
  com::IUnknown* unknown = nullptr;
  HRESULT hr = itemMgt ? itemMgt->CreateEnumerator(com::IID_IEnumOPCItemAttributes, &unknown)
                       : com::E_POINTER;
  if (com::FAILED(hr)) {
    ReleaseInterface(unknown);
    MarkServerLost(client, hr);
    std::printf("Error from CreateEnumerator for EnumItemAttributes (%lx)\n",
                static_cast<unsigned long>(static_cast<com::DWORD>(hr)));
    return;
  }
  if (!unknown) return;  // S_FALSE: nothing to enumerate
  auto* ptrEnum = InterfaceFrom<com::IEnumOPCItemAttributes>(unknown);
  std::printf("Got an IEnumItemAttr...\n");
  for (int n = 0; n < kMaxAttributeRecords; ++n) {
    com::OPCITEMATTRIBUTES* ptrItemAttributes = nullptr;
    com::ULONG actualNumber = 0;
    hr = ptrEnum->Next(1, &ptrItemAttributes, &actualNumber);
    if (hr != com::S_OK || !ptrItemAttributes) {
      FreeServerMemory(client, ptrItemAttributes);  // no records in it
      break;
    }
    s.lastEUType = static_cast<WORD>(ptrItemAttributes->dwEUType & 0xFFFF);
    if (IsRow(s.currentItem)) client.table.rows[s.currentItem].euType = s.lastEUType;
    FreeAttributes(client, ptrItemAttributes);
  }
  if (com::FAILED(hr))
    std::printf("Error from Next(%lx)\n", static_cast<unsigned long>(static_cast<com::DWORD>(hr)));
  ptrEnum->Release();
}

void RemoveItem(Client& client, com::IOPCItemMgt* itemMgt, OPCHANDLE /*serverHandle*/) {
  ClientState& s = client.state;
  const int k = s.currentItem;
  if (!IsRow(k)) return;
  s.szReadItemName = WideText(client.table.rows[k].itemName.c_str());
  // Row 0 is the connection monitor item only while it is there; the rows
  // that move up must never receive the heartbeat.
  if (k == 0) s.monitorItemPresent = 0;
  // In an outage the row just goes: the reconnection will not add it again.
  if (s.serverLost || RefuseWithoutGroup(client, itemMgt, "Remove Item function")) return;
  HRESULT* ptrErrors = nullptr;
  HRESULT hr = itemMgt->RemoveItems(1, &client.table.serverHandles[k], &ptrErrors);
  if (com::FAILED(hr)) LogRemoveItemFailed(client, k + 1);
  MarkServerLost(client, hr);
  FreeServerMemory(client, ptrErrors);
}

const char* CanonicalTypeText(VARTYPE vt) {
  switch (vt) {
    case com::VT_I2:
      return "VT_I2";
    case com::VT_I4:
      return "VT_I4";
    case com::VT_R4:
      return "VT_R4";
    case com::VT_R8:
      return "VT_R8";
    case com::VT_BSTR:
      return "VT_BSTR";
    case com::VT_BOOL:
      return "VT_BOOL";
    case com::VT_VARIANT:
      return "VT_VARIANT";
    case com::VT_UI2:
      return "VT_UI2";
    case com::VT_UI4:
      return "VT_UI4";
    case com::VT_ARRAY | com::VT_R8:
      return "VT_FLOAT_ARRAY";
    case com::VT_ARRAY | com::VT_UI1:
      return "VT_BYTE_ARRAY";
    default:
      return "VT_EMPTY";
  }
}

const char* EuTypeText(unsigned euType) {
  switch (euType) {
    case com::OPC_NOENUM:
      return "0 - No information available (no scaling)";
    case com::OPC_ANALOG:
      return "1 - Analog (get LOW and HI EU range in vEUInfo)";
    case com::OPC_ENUMERATED:
      return "2 - Enumerated (get information in vEUInfo)";
    default:
      return "Uncertain";
  }
}

bool RefuseWhenTableFull(Client& client) {
  if (!TableIsFull(client)) return false;
  ShowTableFull(client);
  return true;
}

void SetColumnRow(ui::ListBox* column, int row, std::string_view text) {
  if (!column || !IsRow(row)) return;
  for (int n = column->GetCount(); n < row; ++n) column->AddString("");
  ReplaceRow(*column, row, text);
}

}  // namespace tagwell

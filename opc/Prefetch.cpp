#include "opc/Prefetch.h"

#include <unordered_map>

#include "opc/Connection.h"
#include "opc/Reconnect.h"
#include "opc/TextHelpers.h"
#include "platform/com/Text.h"

namespace tagwell {
namespace {

// An enumerator that never ends is cut off after this many records.
constexpr int kMaxAttributeRecords = 64 * MAX_ITEMS;

Prefetch& Store(Client& client) {
  if (!client.prefetch) client.prefetch = std::make_unique<Prefetch>();
  return *client.prefetch;
}

// One IOPCSyncIO::Read of handles; the item states and errors it handed
// out are freed when the object goes.
class BatchRead final {
 public:
  BatchRead(Client& client, com::IOPCItemMgt* itemMgt, std::vector<OPCHANDLE>& handles)
      : client_(client), count_(handles.size()) {
    com::IOPCSyncIO* sync = nullptr;
    hr_ = QueryInterfaceInto(itemMgt, com::IID_IOPCSyncIO, &sync);
    if (com::FAILED(hr_)) return;
    hr_ = sync->Read(com::OPC_DS_DEVICE, static_cast<com::DWORD>(count_), handles.data(), &states_,
                     &errors_);
    sync->Release();
  }
  ~BatchRead() {
    if (states_ && com::SUCCEEDED(hr_))
      for (std::size_t i = 0; i < count_; ++i) com::VariantClear(&states_[i].vDataValue);
    FreeServerMemory(client_, states_);
    FreeServerMemory(client_, errors_);
  }
  BatchRead(const BatchRead&) = delete;
  BatchRead& operator=(const BatchRead&) = delete;

  // A call that answered every item (S_OK or S_FALSE, with its arrays).
  bool answered() const { return com::SUCCEEDED(hr_) && states_ && errors_; }
  HRESULT hr() const { return hr_; }
  PrefetchedRead Answer(std::size_t i, OPCHANDLE handle) const {
    PrefetchedRead read;
    read.handle = handle;
    read.itemError = errors_[i];
    read.ftTimeStamp = states_[i].ftTimeStamp;
    read.wQuality = states_[i].wQuality;
    if (com::SUCCEEDED(errors_[i])) com::VariantCopy(read.value.get(), &states_[i].vDataValue);
    return read;
  }

 private:
  Client& client_;
  std::size_t count_;
  HRESULT hr_ = com::E_FAIL;
  com::OPCITEMSTATE* states_ = nullptr;
  HRESULT* errors_ = nullptr;
};

// Reads rows (with their handles) into the store; true when the server was
// found lost.
bool ReadAhead(Client& client, com::IOPCItemMgt* itemMgt, const std::vector<int>& rows,
               std::vector<OPCHANDLE> handles) {
  if (rows.empty()) return false;
  BatchRead read(client, itemMgt, handles);
  if (MarkServerLost(client, read.hr())) return true;
  if (!read.answered()) return false;
  Prefetch& store = Store(client);
  for (std::size_t i = 0; i < rows.size(); ++i) store.reads[rows[i]] = read.Answer(i, handles[i]);
  return false;
}

// The EU types of the group's items by server handle, from its attribute
// enumeration, asked kEnumBatch records at a time.
std::unordered_map<OPCHANDLE, WORD> EuTypesOfGroup(Client& client, com::IOPCItemMgt* itemMgt) {
  std::unordered_map<OPCHANDLE, WORD> types;
  com::IUnknown* unknown = nullptr;
  const HRESULT hr = itemMgt->CreateEnumerator(com::IID_IEnumOPCItemAttributes, &unknown);
  if (com::FAILED(hr) || !unknown) {
    ReleaseInterface(unknown);
    MarkServerLost(client, hr);
    return types;
  }
  auto* ptrEnum = InterfaceFrom<com::IEnumOPCItemAttributes>(unknown);
  for (int n = 0; n < kMaxAttributeRecords; n += kEnumBatch) {
    com::OPCITEMATTRIBUTES* records = nullptr;
    com::ULONG fetched = 0;
    const HRESULT next = ptrEnum->Next(kEnumBatch, &records, &fetched);
    if (com::FAILED(next) || !records) fetched = 0;
    for (com::ULONG i = 0; i < fetched; ++i) {
      com::OPCITEMATTRIBUTES& record = records[i];
      types[record.hServer] = static_cast<WORD>(record.dwEUType & 0xFFFF);
      FreeServerMemory(client, record.szAccessPath);
      FreeServerMemory(client, record.szItemID);
      FreeServerMemory(client, record.pBlob);
      com::VariantClear(&record.vEUInfo);
    }
    FreeServerMemory(client, records);
    MarkServerLost(client, next);
    if (next != com::S_OK) break;
  }
  ptrEnum->Release();
  return types;
}

void FreeAddResults(Client& client, com::OPCITEMRESULT* results, HRESULT* errors,
                    std::size_t count) {
  if (results)
    for (std::size_t i = 0; i < count; ++i) FreeServerMemory(client, results[i].pBlob);
  FreeServerMemory(client, results);
  FreeServerMemory(client, errors);
}

}  // namespace

bool PrefetchReads(Client& client, com::IOPCItemMgt* itemMgt, int first, int last) {
  if (!itemMgt || client.state.serverLost) return false;
  std::vector<int> rows;
  std::vector<OPCHANDLE> handles;
  for (int row = std::max(first, 0); row <= last && row < MAX_ITEMS; ++row) {
    rows.push_back(row);
    handles.push_back(client.table.serverHandles[row]);
  }
  return ReadAhead(client, itemMgt, rows, std::move(handles));
}

std::optional<PrefetchedRead> TakePrefetchedRead(Client& client, int row, OPCHANDLE handle) {
  if (!client.prefetch) return std::nullopt;
  auto& reads = client.prefetch->reads;
  auto found = reads.find(row);
  if (found == reads.end() || found->second.handle != handle) return std::nullopt;
  PrefetchedRead read = std::move(found->second);
  reads.erase(found);
  return read;
}

bool PrefetchAdditions(Client& client, com::IOPCItemMgt* itemMgt, int firstRow,
                       const std::vector<std::string>& ids) {
  if (!itemMgt || client.state.serverLost || ids.empty()) return false;
  std::vector<std::u16string> names;
  for (const std::string& id : ids) {
    // As AddItem converts szItemName.
    com::WCHAR* wide = AnsiToWide(id.c_str());
    names.emplace_back(com::WideView(wide));
    FreeWide(wide);
  }
  com::WCHAR accessPath[1] = {0};
  std::vector<com::OPCITEMDEF> defs;
  for (std::u16string& name : names)
    defs.push_back(
        com::OPCITEMDEF{accessPath, name.data(), com::FALSE, 1, 0, nullptr, com::VT_EMPTY, 0});
  com::OPCITEMRESULT* results = nullptr;
  HRESULT* errors = nullptr;
  const HRESULT hr =
      itemMgt->AddItems(static_cast<com::DWORD>(defs.size()), defs.data(), &results, &errors);
  if (com::FAILED(hr) || !results || !errors) {
    FreeAddResults(client, results, errors, 0);
    return MarkServerLost(client, hr);
  }
  Prefetch& store = Store(client);
  std::vector<int> rows;
  std::vector<OPCHANDLE> handles;
  for (std::size_t i = 0; i < names.size(); ++i) {
    const int row = firstRow + static_cast<int>(i);
    PrefetchedAdd& add = store.adds[row];
    add.name = names[i];
    add.itemError = errors[i];
    add.hr = com::FAILED(errors[i]) ? com::S_FALSE : com::S_OK;
    if (com::FAILED(errors[i])) continue;
    add.hServer = results[i].hServer;
    add.canonical = results[i].vtCanonicalDataType;
    rows.push_back(row);
    handles.push_back(add.hServer);
  }
  FreeAddResults(client, results, errors, names.size());
  if (rows.empty()) return false;
  const auto types = EuTypesOfGroup(client, itemMgt);
  if (client.state.serverLost) return true;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    auto found = types.find(handles[i]);
    if (found != types.end()) store.euTypes[store.adds[rows[i]].name] = found->second;
  }
  return ReadAhead(client, itemMgt, rows, std::move(handles));
}

const PrefetchedAdd* PrefetchedAddFor(const Client& client, int row, const WCHAR* name) {
  if (!client.prefetch || !name) return nullptr;
  auto found = client.prefetch->adds.find(row);
  if (found == client.prefetch->adds.end() || found->second.name != com::WideView(name))
    return nullptr;
  return &found->second;
}

std::optional<WORD> PrefetchedEuType(const Client& client, const WCHAR* name) {
  if (!client.prefetch || !name) return std::nullopt;
  auto found = client.prefetch->euTypes.find(std::u16string(com::WideView(name)));
  if (found == client.prefetch->euTypes.end()) return std::nullopt;
  return found->second;
}

PrefetchScope::~PrefetchScope() {
  client_.prefetch.reset();
}

}  // namespace tagwell

#include <algorithm>
#include <string>
#include <vector>

#include "browse/Browse.h"
#include "opc/Connection.h"
#include "opc/Prefetch.h"
#include "opc/TextHelpers.h"
#include "platform/opcda/BrowseBranches.h"

namespace tagwell {
namespace {

constexpr int kCompareCapacity = 1024;

// The state of one walk. Names are stored at writePosition in
// browseItemNames; compareItems holds the full IDs of the leaves found
// directly under devices.
struct Walk {
  Client& client;
  com::IOPCBrowseServerAddressSpace* browser;
  int writePosition = 0;
  std::vector<std::string> compareItems;
  int groupFound = 0;
  bool serverLost = false;  // the server stopped answering: nothing more is asked
  // The server's describing of many names in one call; null when it has none.
  com::ITagwellBrowseBranches* branches = nullptr;
};

// A server name as the client keeps it: UTF-8, at most 259 bytes.
std::string NameText(const com::WCHAR* name) {
  return FixedText<260>(WideText(name)).str();
}

void Note(Walk& w, HRESULT hr) {
  if (ServerLost(hr)) w.serverLost = true;
}

// Names past the capacity are not stored; the walk goes on so that every
// device is still listed.
void StoreName(Walk& w, const std::string& name) {
  std::vector<std::string>& names = w.client.browse.browseItemNames;
  if (w.writePosition < 0 || w.writePosition >= BrowseLists::kItemCapacity) return;
  if (w.writePosition < static_cast<int>(names.size()))
    names[w.writePosition] = name;
  else
    names.push_back(name);
  ++w.writePosition;
}

void AppendGroupName(Walk& w, const std::string& name) {
  BrowseLists& b = w.client.browse;
  if (b.browseGroupCount < 0 || b.browseGroupCount >= BrowseLists::kGroupCapacity) return;
  if (b.browseGroupCount >= static_cast<int>(b.browseGroupNames.size()))
    b.browseGroupNames.resize(b.browseGroupCount + 1);
  b.browseGroupNames[b.browseGroupCount] = name;
  ++b.browseGroupCount;
}

void AppendCompareItem(Walk& w, const std::string& id) {
  if (static_cast<int>(w.compareItems.size()) < kCompareCapacity) w.compareItems.push_back(id);
}

bool InCompareItems(const Walk& w, const std::string& name) {
  return std::find(w.compareItems.begin(), w.compareItems.end(), name) != w.compareItems.end();
}

void AddInfoLine(Walk& w, std::string_view text) {
  if (w.client.ui.serverInfo) w.client.ui.serverInfo->AddString(text);
}

// The names of one kind at the current position; null when the listing
// gives no names (any result but S_OK).
com::IEnumString* OpenListing(Walk& w, com::OPCBROWSETYPE type) {
  if (w.serverLost) return nullptr;
  com::IEnumString* names = nullptr;
  HRESULT hr = w.browser->BrowseOPCItemIDs(type, u"", com::VT_EMPTY, 0, &names);
  Note(w, hr);
  if (hr != com::S_OK || !names) {
    ReleaseInterface(names);
    return nullptr;
  }
  return names;
}

// Calls visit with each name of an open listing (the server's string, freed
// after the call), asked kEnumBatch names per Next, then releases the
// listing. A listing that never ends is cut off where no more names could
// be stored.
template <class Visit>
void VisitNames(Walk& w, com::IEnumString* names, Visit visit) {
  com::LPOLESTR batch[kEnumBatch];
  for (int n = 0; n < BrowseLists::kItemCapacity && !w.serverLost;) {
    com::ULONG fetched = 0;
    HRESULT hr = names->Next(kEnumBatch, batch, &fetched);
    Note(w, hr);
    if (com::FAILED(hr) || fetched > kEnumBatch) fetched = 0;
    for (com::ULONG i = 0; i < fetched; ++i) {
      if (batch[i] && n < BrowseLists::kItemCapacity && !w.serverLost) {
        visit(batch[i]);
        ++n;
      }
      FreeServerMemory(w.client, batch[i]);
    }
    if (hr != com::S_OK || fetched == 0) break;
  }
  names->Release();
}

HRESULT Move(Walk& w, com::OPCBROWSEDIRECTION direction, const com::WCHAR* name) {
  if (w.serverLost) return com::E_ABORT;
  HRESULT hr = w.browser->ChangeBrowsePosition(direction, name);
  Note(w, hr);
  return hr;
}

// The fully qualified ID of a leaf at the current position; false when the
// server cannot give it (the leaf is then left out).
bool ItemIdOf(Walk& w, com::WCHAR* leaf, std::string* id) {
  if (w.serverLost) return false;
  com::LPWSTR full = nullptr;
  HRESULT hr = w.browser->GetItemID(leaf, &full);
  Note(w, hr);
  const bool ok = com::SUCCEEDED(hr) && full;
  if (ok) *id = NameText(full);
  FreeServerMemory(w.client, full);
  return ok;
}

// A name of a device's flat listing, before what lies inside it. Once
// leaves were found inside such a name, every later one is a group name.
void BeginFlatName(Walk& w, const std::string& name) {
  if (w.groupFound == 0) {
    if (!InCompareItems(w, name)) StoreName(w, name);
  } else {
    StoreName(w, name);
    AppendGroupName(w, name);
  }
}

void EndFlatName(Walk& w, const std::string& name) {
  if (w.groupFound == 1) AppendGroupName(w, name);
}

void WalkFlatName(Walk& w, com::WCHAR* wideName) {
  const std::string name = NameText(wideName);
  BeginFlatName(w, name);
  if (Move(w, com::OPC_BROWSE_TO, wideName) == com::S_OK) {
    if (com::IEnumString* leaves = OpenListing(w, com::OPC_LEAF))
      VisitNames(w, leaves, [&w](com::WCHAR* leaf) {
        w.groupFound = 1;
        std::string id;
        if (ItemIdOf(w, leaf, &id)) StoreName(w, id);
      });
  }
  EndFlatName(w, name);
  Move(w, com::OPC_BROWSE_UP, wideName);
}

// The same for a name the server described (ITagwellBrowseBranches).
void ApplyFlatName(Walk& w, const std::u16string& wideName, const com::BranchContents& inside) {
  const std::string name = NameText(wideName.c_str());
  BeginFlatName(w, name);
  Note(w, inside.enter);
  if (inside.enter == com::S_OK) {
    Note(w, inside.list);
    if (inside.leaves > 0) w.groupFound = 1;
    for (const std::u16string& id : inside.itemIds) StoreName(w, NameText(id.c_str()));
  }
  EndFlatName(w, name);
  Note(w, inside.up);
}

// The names of a device's flat listing, kEnumBatch of them described per
// call by a server that can; otherwise (or once it fails) walked one by one.
void WalkFlatNames(Walk& w, com::IEnumString* listing) {
  if (!w.branches) {
    VisitNames(w, listing, [&w](com::WCHAR* name) { WalkFlatName(w, name); });
    return;
  }
  std::vector<std::u16string> names;
  VisitNames(w, listing, [&names](com::WCHAR* name) { names.emplace_back(name); });
  for (std::size_t at = 0; at < names.size() && !w.serverLost;) {
    const std::size_t end = std::min(names.size(), at + kEnumBatch);
    std::vector<com::BranchContents> described;
    HRESULT hr = com::E_NOTIMPL;
    if (w.branches)
      hr = w.branches->DescribeBranches({names.begin() + at, names.begin() + end},
                                        BrowseLists::kItemCapacity, &described);
    Note(w, hr);
    if (hr == com::S_OK && described.size() == end - at) {
      for (std::size_t i = at; i < end; ++i) ApplyFlatName(w, names[i], described[i - at]);
    } else {
      w.branches = nullptr;  // this server cannot: one name at a time from here
      for (std::size_t i = at; i < end && !w.serverLost; ++i) WalkFlatName(w, names[i].data());
    }
    at = end;
  }
}

// A root branch: listed, entered, its leaves and the names below it stored.
void WalkDevice(Walk& w, com::WCHAR* wideDevice) {
  const std::string device = NameText(wideDevice);
  StoreName(w, device);
  AppendGroupName(w, device);
  AddInfoLine(w, device);
  if (Move(w, com::OPC_BROWSE_TO, wideDevice) != com::S_OK) return;
  if (com::IEnumString* leaves = OpenListing(w, com::OPC_LEAF))
    VisitNames(w, leaves, [&w](com::WCHAR* leaf) {
      std::string id;
      if (!ItemIdOf(w, leaf, &id)) return;
      StoreName(w, id);
      AppendCompareItem(w, id);
    });
  if (com::IEnumString* below = OpenListing(w, com::OPC_FLAT)) WalkFlatNames(w, below);
  Move(w, com::OPC_BROWSE_UP, wideDevice);
}

void StoreEach(Walk& w, com::IEnumString* names) {
  VisitNames(w, names, [&w](com::WCHAR* name) { StoreName(w, NameText(name)); });
}

}  // namespace

void BrowseAddressSpace(Client& client) {
  com::IOPCBrowseServerAddressSpace* browser = client.state.ptrIOPCBrowseServerAddressSpace;
  if (!browser) return;
  Walk w{client, browser, 0, {}, 0, false, nullptr};
  com::ComPtr<com::ITagwellBrowseBranches> branches;
  if (browser->QueryInterface(com::IID_ITagwellBrowseBranches, branches.ReceiveVoid()) == com::S_OK)
    w.branches = branches.Get();

  com::IEnumString* whole = OpenListing(w, com::OPC_FLAT);
  if (!whole) return;
  StoreEach(w, whole);
  client.browse.browseItemCount = w.writePosition;

  w.writePosition = 0;
  if (com::IEnumString* rootLeaves = OpenListing(w, com::OPC_LEAF)) StoreEach(w, rootLeaves);

  com::IEnumString* devices = OpenListing(w, com::OPC_BRANCH);
  if (!devices) return;
  AddInfoLine(w, "");
  AddInfoLine(w, "Devices (or Groups) available on server: ");
  AddInfoLine(w, "");
  VisitNames(w, devices, [&w](com::WCHAR* device) { WalkDevice(w, device); });
  client.browse.browseItemCount = w.writePosition;
}

}  // namespace tagwell

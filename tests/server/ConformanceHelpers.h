// Helpers of the server tests: calls that hand task-allocator blocks back
// are wrapped so that every block is freed before the helper returns.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform/opcda/OpcDa.h"

namespace tagwell::testing {

using Names = std::vector<std::string>;

// Reads every name of the enumerator with Next(1), freeing each.
Names DrainNames(com::IEnumString* names);

// BrowseOPCItemIDs and the names it gives (none when it gave no enumerator).
struct Listing {
  com::HRESULT hr = com::E_FAIL;
  Names names;
};
Listing Browse(com::IOPCBrowseServerAddressSpace* browse, com::OPCBROWSETYPE type,
               const std::string& filter = "", com::VARTYPE dataType = com::VT_EMPTY,
               com::DWORD rights = 0);
com::HRESULT MoveTo(com::IOPCBrowseServerAddressSpace* browse, com::OPCBROWSEDIRECTION direction,
                    const std::string& name = "");
// GetItemID: the result and the ID ("" on failure).
std::pair<com::HRESULT, std::string> ItemId(com::IOPCBrowseServerAddressSpace* browse,
                                            const std::string& name);

com::ComPtr<com::IOPCItemMgt> AddTestGroup(com::IOPCServer* server,
                                           const std::string& name = "Group",
                                           com::OPCHANDLE* handle = nullptr);

struct Added {
  com::HRESULT hr = com::E_FAIL;     // the call's result
  com::HRESULT error = com::E_FAIL;  // the item's entry
  com::OPCITEMRESULT result{};
};
Added AddItem(com::IOPCItemMgt* group, const std::string& id,
              com::VARTYPE requested = com::VT_EMPTY, com::OPCHANDLE clientHandle = 1);

// One item's read: the call's result, the item's error and its state.
struct ReadResult {
  com::HRESULT hr = com::E_FAIL;
  com::HRESULT error = com::E_FAIL;
  com::OPCHANDLE clientHandle = 0;
  com::WORD quality = 0;
  com::FILETIME timeStamp{};
  com::Variant value;
};
ReadResult ReadItem(com::IOPCItemMgt* group, com::OPCHANDLE handle,
                    com::OPCDATASOURCE source = com::OPC_DS_DEVICE);

// One item's write: the call's result and the item's error.
std::pair<com::HRESULT, com::HRESULT> WriteItem(com::IOPCItemMgt* group, com::OPCHANDLE handle,
                                                const com::VARIANT& value);

com::Variant MakeI4(com::LONG v);
com::Variant MakeR8(double v);
com::Variant MakeText(const std::string& utf8);
std::string TextOf(const com::VARIANT& v);                // a VT_BSTR as UTF-8
std::vector<std::string> TextsOf(const com::VARIANT& v);  // a VT_ARRAY|VT_BSTR
std::vector<double> ArrayOf(const com::VARIANT& v);       // a VT_ARRAY|VT_R8 or |VT_UI1

bool SameTime(const com::FILETIME& a, const com::FILETIME& b);

}  // namespace tagwell::testing

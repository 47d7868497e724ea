#include "tests/server/ConformanceHelpers.h"

#include "platform/com/Text.h"

namespace tagwell::testing {

Names DrainNames(com::IEnumString* names) {
  Names out;
  if (!names) return out;
  com::LPOLESTR name = nullptr;
  while (names->Next(1, &name, nullptr) == com::S_OK) {
    out.push_back(com::Utf16ToUtf8(com::WideView(name)));
    com::CoTaskMemFree(name);
    name = nullptr;
  }
  return out;
}

Listing Browse(com::IOPCBrowseServerAddressSpace* browse, com::OPCBROWSETYPE type,
               const std::string& filter, com::VARTYPE dataType, com::DWORD rights) {
  Listing listing;
  const std::u16string wide = com::Utf8ToUtf16(filter);
  com::IEnumString* names = nullptr;
  listing.hr = browse->BrowseOPCItemIDs(type, wide.c_str(), dataType, rights, &names);
  listing.names = DrainNames(names);
  if (names) names->Release();
  return listing;
}

com::HRESULT MoveTo(com::IOPCBrowseServerAddressSpace* browse, com::OPCBROWSEDIRECTION direction,
                    const std::string& name) {
  const std::u16string wide = com::Utf8ToUtf16(name);
  return browse->ChangeBrowsePosition(direction, wide.c_str());
}

std::pair<com::HRESULT, std::string> ItemId(com::IOPCBrowseServerAddressSpace* browse,
                                            const std::string& name) {
  std::u16string wide = com::Utf8ToUtf16(name);
  com::LPWSTR id = nullptr;
  const com::HRESULT hr = browse->GetItemID(wide.data(), &id);
  std::string text = id ? com::Utf16ToUtf8(com::WideView(id)) : std::string();
  com::CoTaskMemFree(id);
  return {hr, text};
}

com::ComPtr<com::IOPCItemMgt> AddTestGroup(com::IOPCServer* server, const std::string& name,
                                           com::OPCHANDLE* handle) {
  const std::u16string wide = com::Utf8ToUtf16(name);
  com::OPCHANDLE serverGroup = 0;
  com::DWORD revised = 0;
  com::ComPtr<com::IOPCItemMgt> group;
  server->AddGroup(wide.c_str(), com::FALSE, 100, 0, nullptr, nullptr, 0, &serverGroup, &revised,
                   com::IID_IOPCItemMgt, reinterpret_cast<com::LPUNKNOWN*>(group.Receive()));
  if (handle) *handle = serverGroup;
  return group;
}

Added AddItem(com::IOPCItemMgt* group, const std::string& id, com::VARTYPE requested,
              com::OPCHANDLE clientHandle) {
  std::u16string wideId = com::Utf8ToUtf16(id);
  std::u16string path;
  com::OPCITEMDEF def{};
  def.szAccessPath = path.data();
  def.szItemID = wideId.data();
  def.hClient = clientHandle;
  def.vtRequestedDataType = requested;
  com::OPCITEMRESULT* results = nullptr;
  com::HRESULT* errors = nullptr;
  Added added;
  added.hr = group->AddItems(1, &def, &results, &errors);
  if (results) added.result = results[0];
  if (errors) added.error = errors[0];
  com::CoTaskMemFree(results);
  com::CoTaskMemFree(errors);
  return added;
}

ReadResult ReadItem(com::IOPCItemMgt* group, com::OPCHANDLE handle, com::OPCDATASOURCE source) {
  ReadResult read;
  com::ComPtr<com::IOPCSyncIO> io;
  read.hr = group->QueryInterface(com::IID_IOPCSyncIO, io.ReceiveVoid());
  if (com::FAILED(read.hr)) return read;
  com::OPCITEMSTATE* states = nullptr;
  com::HRESULT* errors = nullptr;
  read.hr = io->Read(source, 1, &handle, &states, &errors);
  if (errors) read.error = errors[0];
  if (states) {
    read.clientHandle = states[0].hClient;
    read.quality = states[0].wQuality;
    read.timeStamp = states[0].ftTimeStamp;
    read.value = com::Variant::Adopt(&states[0].vDataValue);
  }
  com::CoTaskMemFree(states);
  com::CoTaskMemFree(errors);
  return read;
}

std::pair<com::HRESULT, com::HRESULT> WriteItem(com::IOPCItemMgt* group, com::OPCHANDLE handle,
                                                const com::VARIANT& value) {
  com::ComPtr<com::IOPCSyncIO> io;
  com::HRESULT hr = group->QueryInterface(com::IID_IOPCSyncIO, io.ReceiveVoid());
  if (com::FAILED(hr)) return {hr, hr};
  com::VARIANT copy = value;  // Write does not take ownership
  com::HRESULT* errors = nullptr;
  hr = io->Write(1, &handle, &copy, &errors);
  const com::HRESULT error = errors ? errors[0] : hr;
  com::CoTaskMemFree(errors);
  return {hr, error};
}

com::Variant MakeI4(com::LONG v) {
  com::Variant out;
  out->vt = com::VT_I4;
  out->lVal = v;
  return out;
}

com::Variant MakeR8(double v) {
  com::Variant out;
  out->vt = com::VT_R8;
  out->dblVal = v;
  return out;
}

com::Variant MakeText(const std::string& utf8) {
  com::Variant out;
  out->vt = com::VT_BSTR;
  out->bstrVal = com::SysAllocStringUtf8(utf8);
  return out;
}

std::string TextOf(const com::VARIANT& v) {
  if (v.vt != com::VT_BSTR) return "<not a string>";
  return com::Utf16ToUtf8(std::u16string_view(v.bstrVal, com::SysStringLen(v.bstrVal)));
}

std::vector<std::string> TextsOf(const com::VARIANT& v) {
  std::vector<std::string> out;
  if (v.vt != (com::VT_ARRAY | com::VT_BSTR) || !v.parray) return out;
  com::LONG low = 0, high = -1;
  com::SafeArrayGetLBound(v.parray, 1, &low);
  com::SafeArrayGetUBound(v.parray, 1, &high);
  for (com::LONG i = low; i <= high; ++i) {
    com::BSTR text = nullptr;
    com::SafeArrayGetElement(v.parray, &i, &text);
    out.push_back(com::Utf16ToUtf8(com::BstrView(text)));
    com::SysFreeString(text);
  }
  return out;
}

std::vector<double> ArrayOf(const com::VARIANT& v) {
  std::vector<double> out;
  if (!(v.vt & com::VT_ARRAY) || !v.parray) return out;
  com::LONG low = 0, high = -1;
  com::SafeArrayGetLBound(v.parray, 1, &low);
  com::SafeArrayGetUBound(v.parray, 1, &high);
  for (com::LONG i = low; i <= high; ++i) {
    if ((v.vt & com::VT_TYPEMASK) == com::VT_R8) {
      double x = 0;
      com::SafeArrayGetElement(v.parray, &i, &x);
      out.push_back(x);
    } else {
      com::BYTE b = 0;
      com::SafeArrayGetElement(v.parray, &i, &b);
      out.push_back(b);
    }
  }
  return out;
}

bool SameTime(const com::FILETIME& a, const com::FILETIME& b) {
  return com::FileTimeTicks(a) == com::FileTimeTicks(b);
}

}  // namespace tagwell::testing

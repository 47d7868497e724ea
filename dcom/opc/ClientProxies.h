// The client proxies of the OPC DA interfaces over DCOM, one tear-off class
// per interface (dcom/ClientObject.h), each in its own *Proxy.cpp. They
// implement platform/opcda as rpc/'s proxies do: pointers are checked
// (E_POINTER, E_INVALIDARG), the call goes out, and what comes back is
// handed out in task-allocator blocks the caller frees. A malformed answer
// fails the call with RPC_X_BAD_STUB_DATA and hands nothing out.
#pragma once

#include "dcom/ClientObject.h"
#include "platform/opcda/OpcDa.h"

namespace tagwell::dcom::opc {

using com::DWORD;
using com::HRESULT;
using com::LPCWSTR;
using com::LPWSTR;
using com::OPCHANDLE;
using com::REFIID;
using com::ULONG;

// What a proxy hands out of a malformed answer.
inline constexpr HRESULT kBadAnswer = com::MakeHresult(0x800706F7);

// A top-level [in, string] LPCWSTR (null goes as "").
void PutString(NdrWriter& w, LPCWSTR text);
// An [out, string] LPWSTR* pointee as a task-allocator string (null for a
// null pointer).
LPWSTR TakeString(NdrReader& r);
// An array the caller frees: count elements from the task allocator.
template <class T>
T* TaskCopy(const std::vector<T>& values) {
  if (values.empty()) return nullptr;
  auto* out = static_cast<T*>(com::CoTaskMemAlloc(sizeof(T) * values.size()));
  for (std::size_t i = 0; out && i < values.size(); ++i) out[i] = values[i];
  return out;
}

class ServerProxy final : public RemoteTearOff<com::IOPCServer> {
 public:
  using RemoteTearOff::RemoteTearOff;
  HRESULT AddGroup(LPCWSTR szName, com::BOOL bActive, DWORD dwRequestedUpdateRate,
                   OPCHANDLE hClientGroup, com::LONG* pTimeBias, com::FLOAT* pPercentDeadband,
                   DWORD dwLCID, OPCHANDLE* phServerGroup, DWORD* pRevisedUpdateRate, REFIID riid,
                   com::LPUNKNOWN* ppUnk) override;
  HRESULT GetErrorString(HRESULT dwError, com::LCID dwLocale, LPWSTR* ppString) override;
  HRESULT GetGroupByName(LPCWSTR szName, REFIID riid, com::LPUNKNOWN* ppUnk) override;
  HRESULT GetStatus(com::OPCSERVERSTATUS** ppServerStatus) override;
  HRESULT RemoveGroup(OPCHANDLE hServerGroup, com::BOOL bForce) override;
  HRESULT CreateGroupEnumerator(com::OPCENUMSCOPE dwScope, REFIID riid,
                                com::LPUNKNOWN* ppUnk) override;
};

class BrowseProxy final : public RemoteTearOff<com::IOPCBrowseServerAddressSpace> {
 public:
  using RemoteTearOff::RemoteTearOff;
  HRESULT QueryOrganization(com::OPCNAMESPACETYPE* pNameSpaceType) override;
  HRESULT ChangeBrowsePosition(com::OPCBROWSEDIRECTION dwBrowseDirection,
                               LPCWSTR szString) override;
  HRESULT BrowseOPCItemIDs(com::OPCBROWSETYPE dwBrowseFilterType, LPCWSTR szFilterCriteria,
                           com::VARTYPE vtDataTypeFilter, DWORD dwAccessRightsFilter,
                           com::LPENUMSTRING* ppIEnumString) override;
  HRESULT GetItemID(LPWSTR szItemDataID, LPWSTR* szItemID) override;
  HRESULT BrowseAccessPaths(LPCWSTR szItemID, com::LPENUMSTRING* ppIEnumString) override;
};

class EnumStringProxy final : public RemoteTearOff<com::IEnumString> {
 public:
  using RemoteTearOff::RemoteTearOff;
  HRESULT Next(ULONG celt, com::LPOLESTR* rgelt, ULONG* pceltFetched) override;
  HRESULT Skip(ULONG celt) override;
  HRESULT Reset() override;
  HRESULT Clone(com::IEnumString** ppEnum) override;
};

class ItemMgtProxy final : public RemoteTearOff<com::IOPCItemMgt> {
 public:
  using RemoteTearOff::RemoteTearOff;
  HRESULT AddItems(DWORD dwCount, com::OPCITEMDEF* pItemArray, com::OPCITEMRESULT** ppAddResults,
                   HRESULT** ppErrors) override;
  HRESULT ValidateItems(DWORD dwCount, com::OPCITEMDEF* pItemArray, com::BOOL bBlobUpdate,
                        com::OPCITEMRESULT** ppValidationResults, HRESULT** ppErrors) override;
  HRESULT RemoveItems(DWORD dwCount, OPCHANDLE* phServer, HRESULT** ppErrors) override;
  HRESULT SetActiveState(DWORD dwCount, OPCHANDLE* phServer, com::BOOL bActive,
                         HRESULT** ppErrors) override;
  HRESULT SetClientHandles(DWORD dwCount, OPCHANDLE* phServer, OPCHANDLE* phClient,
                           HRESULT** ppErrors) override;
  HRESULT SetDatatypes(DWORD dwCount, OPCHANDLE* phServer, com::VARTYPE* pRequestedDatatypes,
                       HRESULT** ppErrors) override;
  HRESULT CreateEnumerator(REFIID riid, com::LPUNKNOWN* ppUnk) override;
};

class EnumAttributesProxy final : public RemoteTearOff<com::IEnumOPCItemAttributes> {
 public:
  using RemoteTearOff::RemoteTearOff;
  HRESULT Next(ULONG celt, com::OPCITEMATTRIBUTES** ppItemArray, ULONG* pceltFetched) override;
  HRESULT Skip(ULONG celt) override;
  HRESULT Reset() override;
  HRESULT Clone(com::IEnumOPCItemAttributes** ppEnumItemAttributes) override;
};

class SyncIoProxy final : public RemoteTearOff<com::IOPCSyncIO> {
 public:
  using RemoteTearOff::RemoteTearOff;
  HRESULT Read(com::OPCDATASOURCE dwSource, DWORD dwCount, OPCHANDLE* phServer,
               com::OPCITEMSTATE** ppItemValues, HRESULT** ppErrors) override;
  HRESULT Write(DWORD dwCount, OPCHANDLE* phServer, com::VARIANT* pItemValues,
                HRESULT** ppErrors) override;
};

class ItemPropertiesProxy final : public RemoteTearOff<com::IOPCItemProperties> {
 public:
  using RemoteTearOff::RemoteTearOff;
  HRESULT QueryAvailableProperties(LPWSTR szItemID, DWORD* pdwCount, DWORD** ppPropertyIDs,
                                   LPWSTR** ppDescriptions, com::VARTYPE** ppvtDataTypes) override;
  HRESULT GetItemProperties(LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs,
                            com::VARIANT** ppvData, HRESULT** ppErrors) override;
  HRESULT LookupItemIDs(LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs,
                        LPWSTR** ppszNewItemIDs, HRESULT** ppErrors) override;
};

}  // namespace tagwell::dcom::opc

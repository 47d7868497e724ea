// The interface proxies of ProxyObject, one per marshalled COM interface.
// Each method checks the pointers it must read or write (E_POINTER,
// E_INVALIDARG), sends the call and hands the answer out the way an
// in-process server would; the server decides everything else.
#pragma once

#include <deque>
#include <string>

#include "platform/opcda/BrowseBranches.h"
#include "rpc/Proxy.h"

namespace tagwell::rpc {

class ServerProxy final : public TearOff<com::IOPCServer> {
 public:
  using TearOff::TearOff;
  com::HRESULT AddGroup(com::LPCWSTR szName, com::BOOL bActive, com::DWORD dwRequestedUpdateRate,
                        com::OPCHANDLE hClientGroup, com::LONG* pTimeBias,
                        com::FLOAT* pPercentDeadband, com::DWORD dwLCID,
                        com::OPCHANDLE* phServerGroup, com::DWORD* pRevisedUpdateRate,
                        com::REFIID riid, com::LPUNKNOWN* ppUnk) override;
  com::HRESULT GetErrorString(com::HRESULT dwError, com::LCID dwLocale,
                              com::LPWSTR* ppString) override;
  com::HRESULT GetGroupByName(com::LPCWSTR szName, com::REFIID riid,
                              com::LPUNKNOWN* ppUnk) override;
  com::HRESULT GetStatus(com::OPCSERVERSTATUS** ppServerStatus) override;
  com::HRESULT RemoveGroup(com::OPCHANDLE hServerGroup, com::BOOL bForce) override;
  com::HRESULT CreateGroupEnumerator(com::OPCENUMSCOPE dwScope, com::REFIID riid,
                                     com::LPUNKNOWN* ppUnk) override;
};

class PublicGroupsProxy final : public TearOff<com::IOPCServerPublicGroups> {
 public:
  using TearOff::TearOff;
  com::HRESULT GetPublicGroupByName(com::LPCWSTR szName, com::REFIID riid,
                                    com::LPUNKNOWN* ppUnk) override;
  com::HRESULT RemovePublicGroup(com::OPCHANDLE hServerGroup, com::BOOL bForce) override;
};

class PersistFileProxy final : public TearOff<com::IPersistFile> {
 public:
  using TearOff::TearOff;
  com::HRESULT GetClassID(com::CLSID* pClassID) override;
  com::HRESULT IsDirty() override;
  com::HRESULT Load(com::LPCOLESTR pszFileName, com::DWORD dwMode) override;
  com::HRESULT Save(com::LPCOLESTR pszFileName, com::BOOL fRemember) override;
  com::HRESULT SaveCompleted(com::LPCOLESTR pszFileName) override;
  com::HRESULT GetCurFile(com::LPOLESTR* ppszFileName) override;
};

class BrowseProxy final : public TearOff<com::IOPCBrowseServerAddressSpace> {
 public:
  using TearOff::TearOff;
  com::HRESULT QueryOrganization(com::OPCNAMESPACETYPE* pNameSpaceType) override;
  com::HRESULT ChangeBrowsePosition(com::OPCBROWSEDIRECTION dwBrowseDirection,
                                    com::LPCWSTR szString) override;
  com::HRESULT BrowseOPCItemIDs(com::OPCBROWSETYPE dwBrowseFilterType,
                                com::LPCWSTR szFilterCriteria, com::VARTYPE vtDataTypeFilter,
                                com::DWORD dwAccessRightsFilter,
                                com::LPENUMSTRING* ppIEnumString) override;
  com::HRESULT GetItemID(com::LPWSTR szItemDataID, com::LPWSTR* szItemID) override;
  com::HRESULT BrowseAccessPaths(com::LPCWSTR szItemID, com::LPENUMSTRING* ppIEnumString) override;
};

class BrowseBranchesProxy final : public TearOff<com::ITagwellBrowseBranches> {
 public:
  using TearOff::TearOff;
  com::HRESULT DescribeBranches(const std::vector<std::u16string>& names, com::ULONG leafLimit,
                                std::vector<com::BranchContents>* contents) override;
};

class ItemPropertiesProxy final : public TearOff<com::IOPCItemProperties> {
 public:
  using TearOff::TearOff;
  com::HRESULT QueryAvailableProperties(com::LPWSTR szItemID, com::DWORD* pdwCount,
                                        com::DWORD** ppPropertyIDs, com::LPWSTR** ppDescriptions,
                                        com::VARTYPE** ppvtDataTypes) override;
  com::HRESULT GetItemProperties(com::LPWSTR szItemID, com::DWORD dwCount,
                                 com::DWORD* pdwPropertyIDs, com::VARIANT** ppvData,
                                 com::HRESULT** ppErrors) override;
  com::HRESULT LookupItemIDs(com::LPWSTR szItemID, com::DWORD dwCount, com::DWORD* pdwPropertyIDs,
                             com::LPWSTR** ppszNewItemIDs, com::HRESULT** ppErrors) override;
};

class ItemMgtProxy final : public TearOff<com::IOPCItemMgt> {
 public:
  using TearOff::TearOff;
  com::HRESULT AddItems(com::DWORD dwCount, com::OPCITEMDEF* pItemArray,
                        com::OPCITEMRESULT** ppAddResults, com::HRESULT** ppErrors) override;
  com::HRESULT ValidateItems(com::DWORD dwCount, com::OPCITEMDEF* pItemArray, com::BOOL bBlobUpdate,
                             com::OPCITEMRESULT** ppValidationResults,
                             com::HRESULT** ppErrors) override;
  com::HRESULT RemoveItems(com::DWORD dwCount, com::OPCHANDLE* phServer,
                           com::HRESULT** ppErrors) override;
  com::HRESULT SetActiveState(com::DWORD dwCount, com::OPCHANDLE* phServer, com::BOOL bActive,
                              com::HRESULT** ppErrors) override;
  com::HRESULT SetClientHandles(com::DWORD dwCount, com::OPCHANDLE* phServer,
                                com::OPCHANDLE* phClient, com::HRESULT** ppErrors) override;
  com::HRESULT SetDatatypes(com::DWORD dwCount, com::OPCHANDLE* phServer,
                            com::VARTYPE* pRequestedDatatypes, com::HRESULT** ppErrors) override;
  com::HRESULT CreateEnumerator(com::REFIID riid, com::LPUNKNOWN* ppUnk) override;

 private:
  com::HRESULT AddOrValidate(bool validate, com::DWORD dwCount, com::OPCITEMDEF* pItemArray,
                             com::BOOL bBlobUpdate, com::OPCITEMRESULT** ppResults,
                             com::HRESULT** ppErrors);
};

class SyncIoProxy final : public TearOff<com::IOPCSyncIO> {
 public:
  using TearOff::TearOff;
  com::HRESULT Read(com::OPCDATASOURCE dwSource, com::DWORD dwCount, com::OPCHANDLE* phServer,
                    com::OPCITEMSTATE** ppItemValues, com::HRESULT** ppErrors) override;
  com::HRESULT Write(com::DWORD dwCount, com::OPCHANDLE* phServer, com::VARIANT* pItemValues,
                     com::HRESULT** ppErrors) override;
};

// Reads ahead: a Next that finds too few names buffered fetches at least
// kReadAhead of them in one call, so a client that asks for one name at a
// time (the address-space walk) does not pay a round trip per name. The
// buffer is the part of the server's enumeration the client has not seen
// yet; Skip and Clone take it into account, Reset drops it, so the
// answers are those of the server's enumerator.
class EnumStringProxy final : public TearOff<com::IEnumString> {
 public:
  static constexpr com::ULONG kReadAhead = 256;

  using TearOff::TearOff;
  com::HRESULT Next(com::ULONG celt, com::LPOLESTR* rgelt, com::ULONG* pceltFetched) override;
  com::HRESULT Skip(com::ULONG celt) override;
  com::HRESULT Reset() override;
  com::HRESULT Clone(com::IEnumString** ppEnum) override;

 private:
  // Fetches until `wanted` names are buffered or the server has no more.
  com::HRESULT Fill(com::ULONG wanted);

  std::deque<std::u16string> buffered_;
  bool ended_ = false;  // the server's enumeration has given its last name
};

class EnumUnknownProxy final : public TearOff<com::IEnumUnknown> {
 public:
  using TearOff::TearOff;
  com::HRESULT Next(com::ULONG celt, com::IUnknown** rgelt, com::ULONG* pceltFetched) override;
  com::HRESULT Skip(com::ULONG celt) override;
  com::HRESULT Reset() override;
  com::HRESULT Clone(com::IEnumUnknown** ppEnum) override;

 private:
  com::HRESULT NextBatch(com::ULONG celt, com::IUnknown** rgelt, com::ULONG* fetched,
                         bool wantFetched);
};

class EnumAttributesProxy final : public TearOff<com::IEnumOPCItemAttributes> {
 public:
  using TearOff::TearOff;
  com::HRESULT Next(com::ULONG celt, com::OPCITEMATTRIBUTES** ppItemArray,
                    com::ULONG* pceltFetched) override;
  com::HRESULT Skip(com::ULONG celt) override;
  com::HRESULT Reset() override;
  com::HRESULT Clone(com::IEnumOPCItemAttributes** ppEnumItemAttributes) override;
};

}  // namespace tagwell::rpc

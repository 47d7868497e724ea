// OPC Data Access 2.0 custom interfaces: the interfaces, structures,
// constants, error codes and IIDs that the client and the servers use.
// Parameter lists follow the DA 2.0 definitions; every array and string an
// out-parameter receives comes from the COM task allocator.
#pragma once

#include "platform/com/Memory.h"
#include "platform/com/Time.h"
#include "platform/com/Unknown.h"
#include "platform/com/Variant.h"

namespace com {

using OPCHANDLE = DWORD;

// --- Enumerations ----------------------------------------------------------
enum OPCDATASOURCE : DWORD { OPC_DS_CACHE = 1, OPC_DS_DEVICE = 2 };
enum OPCBROWSETYPE : DWORD { OPC_BRANCH = 1, OPC_LEAF = 2, OPC_FLAT = 3 };
enum OPCNAMESPACETYPE : DWORD { OPC_NS_HIERARCHIAL = 1, OPC_NS_FLAT = 2 };
enum OPCBROWSEDIRECTION : DWORD { OPC_BROWSE_UP = 1, OPC_BROWSE_DOWN = 2, OPC_BROWSE_TO = 3 };
enum OPCEUTYPE : DWORD { OPC_NOENUM = 0, OPC_ANALOG = 1, OPC_ENUMERATED = 2 };
enum OPCSERVERSTATE : DWORD {
  OPC_STATUS_RUNNING = 1,
  OPC_STATUS_FAILED = 2,
  OPC_STATUS_NOCONFIG = 3,
  OPC_STATUS_SUSPENDED = 4,
  OPC_STATUS_TEST = 5
};
enum OPCENUMSCOPE : DWORD {
  OPC_ENUM_PRIVATE_CONNECTIONS = 1,
  OPC_ENUM_PUBLIC_CONNECTIONS = 2,
  OPC_ENUM_ALL_CONNECTIONS = 3,
  OPC_ENUM_PRIVATE = 4,
  OPC_ENUM_PUBLIC = 5,
  OPC_ENUM_ALL = 6
};

// Access rights.
inline constexpr DWORD OPC_READABLE = 0x1;
inline constexpr DWORD OPC_WRITEABLE = 0x2;

// --- Quality ---------------------------------------------------------------
inline constexpr WORD OPC_QUALITY_MASK = 0xC0;
inline constexpr WORD OPC_STATUS_MASK = 0xFC;
inline constexpr WORD OPC_LIMIT_MASK = 0x03;
inline constexpr WORD OPC_QUALITY_BAD = 0x00;
inline constexpr WORD OPC_QUALITY_UNCERTAIN = 0x40;
inline constexpr WORD OPC_QUALITY_GOOD = 0xC0;
inline constexpr WORD OPC_QUALITY_CONFIG_ERROR = 0x04;
inline constexpr WORD OPC_QUALITY_NOT_CONNECTED = 0x08;
inline constexpr WORD OPC_QUALITY_DEVICE_FAILURE = 0x0C;
inline constexpr WORD OPC_QUALITY_SENSOR_FAILURE = 0x10;
inline constexpr WORD OPC_QUALITY_LAST_KNOWN = 0x14;
inline constexpr WORD OPC_QUALITY_COMM_FAILURE = 0x18;
inline constexpr WORD OPC_QUALITY_OUT_OF_SERVICE = 0x1C;
inline constexpr WORD OPC_QUALITY_LAST_USABLE = 0x44;
inline constexpr WORD OPC_QUALITY_SENSOR_CAL = 0x50;
inline constexpr WORD OPC_QUALITY_EGU_EXCEEDED = 0x54;
inline constexpr WORD OPC_QUALITY_SUB_NORMAL = 0x58;
inline constexpr WORD OPC_QUALITY_LOCAL_OVERRIDE = 0xD8;
inline constexpr WORD OPC_LIMIT_OK = 0x00;
inline constexpr WORD OPC_LIMIT_LOW = 0x01;
inline constexpr WORD OPC_LIMIT_HIGH = 0x02;
inline constexpr WORD OPC_LIMIT_CONST = 0x03;

// --- Error codes -----------------------------------------------------------
inline constexpr HRESULT OPC_E_INVALIDHANDLE = MakeHresult(0xC0040001);
inline constexpr HRESULT OPC_E_BADTYPE = MakeHresult(0xC0040004);
inline constexpr HRESULT OPC_E_PUBLIC = MakeHresult(0xC0040005);
inline constexpr HRESULT OPC_E_BADRIGHTS = MakeHresult(0xC0040006);
inline constexpr HRESULT OPC_E_UNKNOWNITEMID = MakeHresult(0xC0040007);
inline constexpr HRESULT OPC_E_INVALIDITEMID = MakeHresult(0xC0040008);
inline constexpr HRESULT OPC_E_INVALIDFILTER = MakeHresult(0xC0040009);
inline constexpr HRESULT OPC_E_UNKNOWNPATH = MakeHresult(0xC004000A);
inline constexpr HRESULT OPC_E_RANGE = MakeHresult(0xC004000B);
inline constexpr HRESULT OPC_E_DUPLICATENAME = MakeHresult(0xC004000C);
inline constexpr HRESULT OPC_S_UNSUPPORTEDRATE = MakeHresult(0x0004000D);
inline constexpr HRESULT OPC_S_CLAMP = MakeHresult(0x0004000E);
inline constexpr HRESULT OPC_S_INUSE = MakeHresult(0x0004000F);
inline constexpr HRESULT OPC_E_INVALIDCONFIGFILE = MakeHresult(0xC0040010);
inline constexpr HRESULT OPC_E_NOTFOUND = MakeHresult(0xC0040011);
inline constexpr HRESULT OPC_E_INVALID_PID = MakeHresult(0xC0040203);

// --- Structures ------------------------------------------------------------
struct OPCITEMDEF {
  LPWSTR szAccessPath;
  LPWSTR szItemID;
  BOOL bActive;
  OPCHANDLE hClient;
  DWORD dwBlobSize;
  BYTE* pBlob;
  VARTYPE vtRequestedDataType;
  WORD wReserved;
};

struct OPCITEMRESULT {
  OPCHANDLE hServer;
  VARTYPE vtCanonicalDataType;
  WORD wReserved;
  DWORD dwAccessRights;
  DWORD dwBlobSize;
  BYTE* pBlob;
};

struct OPCITEMSTATE {
  OPCHANDLE hClient;
  FILETIME ftTimeStamp;
  WORD wQuality;
  WORD wReserved;
  VARIANT vDataValue;
};

struct OPCITEMATTRIBUTES {
  LPWSTR szAccessPath;
  LPWSTR szItemID;
  BOOL bActive;
  OPCHANDLE hClient;
  OPCHANDLE hServer;
  DWORD dwAccessRights;
  DWORD dwBlobSize;
  BYTE* pBlob;
  VARTYPE vtRequestedDataType;
  VARTYPE vtCanonicalDataType;
  OPCEUTYPE dwEUType;
  VARIANT vEUInfo;
};

struct OPCSERVERSTATUS {
  FILETIME ftStartTime;
  FILETIME ftCurrentTime;
  FILETIME ftLastUpdateTime;
  OPCSERVERSTATE dwServerState;
  DWORD dwGroupCount;
  DWORD dwBandWidth;
  WORD wMajorVersion;
  WORD wMinorVersion;
  WORD wBuildNumber;
  WORD wReserved;
  LPWSTR szVendorInfo;
};

// --- IIDs --------------------------------------------------------------------
namespace detail {
constexpr IID OpcIid(std::uint32_t d1) {
  return {d1, 0x011E, 0x11D0, {0x96, 0x75, 0x00, 0x20, 0xAF, 0xD8, 0xAD, 0xB3}};
}
constexpr IID OleIid(std::uint32_t d1) {
  return {d1, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
}
}  // namespace detail

inline constexpr IID IID_IOPCServer = detail::OpcIid(0x39C13A4D);
inline constexpr IID IID_IOPCServerPublicGroups = detail::OpcIid(0x39C13A4E);
inline constexpr IID IID_IOPCBrowseServerAddressSpace = detail::OpcIid(0x39C13A4F);
inline constexpr IID IID_IOPCSyncIO = detail::OpcIid(0x39C13A52);
inline constexpr IID IID_IOPCItemMgt = detail::OpcIid(0x39C13A54);
inline constexpr IID IID_IEnumOPCItemAttributes = detail::OpcIid(0x39C13A55);
inline constexpr IID IID_IOPCItemProperties = detail::OpcIid(0x39C13A72);
inline constexpr IID IID_IEnumUnknown = detail::OleIid(0x00000100);
inline constexpr IID IID_IEnumString = detail::OleIid(0x00000101);
inline constexpr IID IID_IPersistFile = detail::OleIid(0x0000010B);
inline constexpr IID IID_IPersist = detail::OleIid(0x0000010C);

// --- Standard enumerators and persistence ---------------------------------
class IEnumString : public IUnknown {
 public:
  // Strings come from the task allocator. S_OK when celt were fetched,
  // S_FALSE when fewer. pceltFetched may be null only when celt is 1.
  virtual HRESULT Next(ULONG celt, LPOLESTR* rgelt, ULONG* pceltFetched) = 0;
  virtual HRESULT Skip(ULONG celt) = 0;
  virtual HRESULT Reset() = 0;
  virtual HRESULT Clone(IEnumString** ppEnum) = 0;
};
using LPENUMSTRING = IEnumString*;

class IEnumUnknown : public IUnknown {
 public:
  virtual HRESULT Next(ULONG celt, IUnknown** rgelt, ULONG* pceltFetched) = 0;
  virtual HRESULT Skip(ULONG celt) = 0;
  virtual HRESULT Reset() = 0;
  virtual HRESULT Clone(IEnumUnknown** ppEnum) = 0;
};

class IPersist : public IUnknown {
 public:
  virtual HRESULT GetClassID(CLSID* pClassID) = 0;
};

class IPersistFile : public IPersist {
 public:
  virtual HRESULT IsDirty() = 0;
  virtual HRESULT Load(LPCOLESTR pszFileName, DWORD dwMode) = 0;
  virtual HRESULT Save(LPCOLESTR pszFileName, BOOL fRemember) = 0;
  virtual HRESULT SaveCompleted(LPCOLESTR pszFileName) = 0;
  virtual HRESULT GetCurFile(LPOLESTR* ppszFileName) = 0;
};

// --- OPC interfaces ----------------------------------------------------------
class IOPCServer : public IUnknown {
 public:
  virtual HRESULT AddGroup(LPCWSTR szName, BOOL bActive, DWORD dwRequestedUpdateRate,
                           OPCHANDLE hClientGroup, LONG* pTimeBias, FLOAT* pPercentDeadband,
                           DWORD dwLCID, OPCHANDLE* phServerGroup, DWORD* pRevisedUpdateRate,
                           REFIID riid, LPUNKNOWN* ppUnk) = 0;
  virtual HRESULT GetErrorString(HRESULT dwError, LCID dwLocale, LPWSTR* ppString) = 0;
  virtual HRESULT GetGroupByName(LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk) = 0;
  virtual HRESULT GetStatus(OPCSERVERSTATUS** ppServerStatus) = 0;
  virtual HRESULT RemoveGroup(OPCHANDLE hServerGroup, BOOL bForce) = 0;
  virtual HRESULT CreateGroupEnumerator(OPCENUMSCOPE dwScope, REFIID riid, LPUNKNOWN* ppUnk) = 0;
};

class IOPCServerPublicGroups : public IUnknown {
 public:
  virtual HRESULT GetPublicGroupByName(LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk) = 0;
  virtual HRESULT RemovePublicGroup(OPCHANDLE hServerGroup, BOOL bForce) = 0;
};

class IOPCBrowseServerAddressSpace : public IUnknown {
 public:
  virtual HRESULT QueryOrganization(OPCNAMESPACETYPE* pNameSpaceType) = 0;
  virtual HRESULT ChangeBrowsePosition(OPCBROWSEDIRECTION dwBrowseDirection, LPCWSTR szString) = 0;
  virtual HRESULT BrowseOPCItemIDs(OPCBROWSETYPE dwBrowseFilterType, LPCWSTR szFilterCriteria,
                                   VARTYPE vtDataTypeFilter, DWORD dwAccessRightsFilter,
                                   LPENUMSTRING* ppIEnumString) = 0;
  virtual HRESULT GetItemID(LPWSTR szItemDataID, LPWSTR* szItemID) = 0;
  virtual HRESULT BrowseAccessPaths(LPCWSTR szItemID, LPENUMSTRING* ppIEnumString) = 0;
};

class IOPCItemProperties : public IUnknown {
 public:
  virtual HRESULT QueryAvailableProperties(LPWSTR szItemID, DWORD* pdwCount, DWORD** ppPropertyIDs,
                                           LPWSTR** ppDescriptions, VARTYPE** ppvtDataTypes) = 0;
  virtual HRESULT GetItemProperties(LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs,
                                    VARIANT** ppvData, HRESULT** ppErrors) = 0;
  virtual HRESULT LookupItemIDs(LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs,
                                LPWSTR** ppszNewItemIDs, HRESULT** ppErrors) = 0;
};

class IEnumOPCItemAttributes : public IUnknown {
 public:
  // *ppItemArray is one task-allocator block of the fetched records; their
  // strings, blobs and vEUInfo are the caller's to free as well.
  virtual HRESULT Next(ULONG celt, OPCITEMATTRIBUTES** ppItemArray, ULONG* pceltFetched) = 0;
  virtual HRESULT Skip(ULONG celt) = 0;
  virtual HRESULT Reset() = 0;
  virtual HRESULT Clone(IEnumOPCItemAttributes** ppEnumItemAttributes) = 0;
};

class IOPCItemMgt : public IUnknown {
 public:
  virtual HRESULT AddItems(DWORD dwCount, OPCITEMDEF* pItemArray, OPCITEMRESULT** ppAddResults,
                           HRESULT** ppErrors) = 0;
  virtual HRESULT ValidateItems(DWORD dwCount, OPCITEMDEF* pItemArray, BOOL bBlobUpdate,
                                OPCITEMRESULT** ppValidationResults, HRESULT** ppErrors) = 0;
  virtual HRESULT RemoveItems(DWORD dwCount, OPCHANDLE* phServer, HRESULT** ppErrors) = 0;
  virtual HRESULT SetActiveState(DWORD dwCount, OPCHANDLE* phServer, BOOL bActive,
                                 HRESULT** ppErrors) = 0;
  virtual HRESULT SetClientHandles(DWORD dwCount, OPCHANDLE* phServer, OPCHANDLE* phClient,
                                   HRESULT** ppErrors) = 0;
  virtual HRESULT SetDatatypes(DWORD dwCount, OPCHANDLE* phServer, VARTYPE* pRequestedDatatypes,
                               HRESULT** ppErrors) = 0;
  virtual HRESULT CreateEnumerator(REFIID riid, LPUNKNOWN* ppUnk) = 0;
};

class IOPCSyncIO : public IUnknown {
 public:
  virtual HRESULT Read(OPCDATASOURCE dwSource, DWORD dwCount, OPCHANDLE* phServer,
                       OPCITEMSTATE** ppItemValues, HRESULT** ppErrors) = 0;
  virtual HRESULT Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues,
                        HRESULT** ppErrors) = 0;
};

}  // namespace com

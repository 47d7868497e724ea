// The COM runtime: apartment start-up and shut-down, security, class
// lookup and object creation.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/com/Unknown.h"

namespace com {

inline constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
inline constexpr DWORD CLSCTX_INPROC_HANDLER = 0x2;
inline constexpr DWORD CLSCTX_LOCAL_SERVER = 0x4;
inline constexpr DWORD CLSCTX_REMOTE_SERVER = 0x10;
inline constexpr DWORD CLSCTX_SERVER =
    CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;
inline constexpr DWORD CLSCTX_ALL = CLSCTX_SERVER | CLSCTX_INPROC_HANDLER;

inline constexpr DWORD COINIT_APARTMENTTHREADED = 0x2;
inline constexpr DWORD COINIT_MULTITHREADED = 0x0;

inline constexpr DWORD RPC_C_AUTHN_LEVEL_DEFAULT = 0;
inline constexpr DWORD RPC_C_AUTHN_LEVEL_NONE = 1;
inline constexpr DWORD RPC_C_IMP_LEVEL_IMPERSONATE = 3;
inline constexpr DWORD EOAC_NONE = 0;

struct COAUTHINFO;

struct COSERVERINFO {
  DWORD dwReserved1;
  LPWSTR pwszName;
  COAUTHINFO* pAuthInfo;
  DWORD dwReserved2;
};

struct MULTI_QI {
  const IID* pIID;
  IUnknown* pItf;
  HRESULT hr;
};

// Per-thread count, as on Windows: the first call gives S_OK, later ones
// S_FALSE; each successful call needs one CoUninitialize (extra ones are
// ignored). A non-null reserved gives E_INVALIDARG; asking for the other
// apartment mode than the thread's gives RPC_E_CHANGED_MODE and counts
// nothing. Creating objects does not require it.
HRESULT CoInitialize(void* reserved);
HRESULT CoInitializeEx(void* reserved, DWORD coInit);
void CoUninitialize();
// How many CoUninitialize calls this thread owes.
ULONG CoInitializeCount();

// Records its arguments for the process; the thread must have COM
// initialised (else CO_E_NOTINITIALIZED). A second call gives RPC_E_TOO_LATE
// for as long as any thread keeps COM initialised; after the last
// CoUninitialize of the process the settings are gone and may be set again.
HRESULT CoInitializeSecurity(void* securityDescriptor, LONG authServiceCount, void* authServices,
                             void* reserved1, DWORD authnLevel, DWORD impLevel, void* authList,
                             DWORD capabilities, void* reserved3);

// The arguments of the CoInitializeSecurity call in force (pointers only as
// "given or not").
struct SecuritySettings {
  bool hasSecurityDescriptor;
  LONG authServiceCount;
  bool hasAuthServices;
  DWORD authnLevel;
  DWORD impLevel;
  bool hasAuthList;
  DWORD capabilities;
};
// False when no settings are in force; settings may be null.
bool GetSecuritySettings(SecuritySettings* settings);

void CoFreeUnusedLibraries();

// "{...}" is parsed as a GUID; any other text is a ProgID, compared without
// case, of an in-process class (RegisterInprocClass) or else of the installed
// servers (platform/registry). Failure: CO_E_CLASSSTRING, with *clsid
// unchanged; null text E_INVALIDARG, null clsid E_POINTER.
HRESULT CLSIDFromString(LPCOLESTR text, CLSID* clsid);

// Creates an object of class clsid and asks it for the interfaces of
// results[0..count). In-process classes are used when context has
// CLSCTX_INPROC_SERVER and the class has an in-process factory; otherwise the
// installed ServerActivator creates it in a local server process
// (CLSCTX_LOCAL_SERVER) or on the computer named by serverInfo
// (CLSCTX_REMOTE_SERVER, when serverInfo names one; else the local server).
// Every entry gets its pItf (null when refused) and hr. Returns S_OK when
// every entry succeeded, CO_S_NOTALLINTERFACES (0x00080012) when some did,
// E_NOINTERFACE when none did, and the creation's failure (then in every
// entry too) otherwise: CLASS_E_NOAGGREGATION for an outer object,
// E_INVALIDARG for no entries, REGDB_E_CLASSNOTREG when no way of creating
// the class is open to the context.
HRESULT CoCreateInstanceEx(REFCLSID clsid, IUnknown* outer, DWORD context, COSERVERINFO* serverInfo,
                           DWORD count, MULTI_QI* results);
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid, void** ppv);

inline constexpr HRESULT CO_S_NOTALLINTERFACES = 0x00080012;

// --- In-process classes -----------------------------------------------------
// Creates an instance and returns the interface riid of it in *ppv.
using ClassFactoryFunction = std::function<HRESULT(REFIID riid, void** ppv)>;

// Makes clsid creatable in this process until RevokeInprocClass(cookie).
// A non-empty progId is also resolved by CLSIDFromString (before the
// installed servers are looked at). The latest registration of a class
// wins. Thread-safe; the factory is called without any lock held, so it may
// create objects itself. A null factory registers nothing (cookie 0).
DWORD RegisterInprocClass(REFCLSID clsid, ClassFactoryFunction factory, std::string progId = {});
void RevokeInprocClass(DWORD cookie);

// --- Out-of-process activation ---------------------------------------------
// The platform's stand-in for DCOM activation, realised by rpc/.
class ServerActivator {
 public:
  virtual ~ServerActivator() = default;
  // Creates an object of class clsid in its local server process (host
  // empty) or on the computer host ("name" or "name:port"), and fills the
  // entries of results as CoCreateInstanceEx describes.
  virtual HRESULT Activate(REFCLSID clsid, const std::u16string& host, DWORD count,
                           MULTI_QI* results) = 0;
  // The CLSID the computer host's server browser gives for progId.
  // CO_E_CLASSSTRING when it knows none; E_NOTIMPL when host's protocol has
  // no server browser (the local registry then answers).
  virtual HRESULT ClassOnComputer(const std::u16string& host, const std::u16string& progId,
                                  CLSID* clsid) {
    (void)host, (void)progId, (void)clsid;
    return E_NOTIMPL;
  }
  // The ProgIDs of the OPC DA servers the computer host's server browser
  // lists. E_NOTIMPL as above.
  virtual HRESULT ServersOnComputer(const std::u16string& host,
                                    std::vector<std::u16string>* progIds) {
    (void)host, (void)progIds;
    return E_NOTIMPL;
  }
};

// The installed activator's answers (E_NOTIMPL without one).
HRESULT CLSIDFromProgIDOnComputer(const std::u16string& host, const std::u16string& progId,
                                  CLSID* clsid);
HRESULT ListServersOnComputer(const std::u16string& host, std::vector<std::u16string>* progIds);

// Installs the activator used for local and remote contexts (null removes
// it; without one those contexts give REGDB_E_CLASSNOTREG). The caller keeps
// ownership and keeps it alive while it is installed.
void SetServerActivator(ServerActivator* activator);
ServerActivator* GetServerActivator();

}  // namespace com

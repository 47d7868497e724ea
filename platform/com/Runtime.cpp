// Class lookup and object creation.
#include "platform/com/Runtime.h"

#include <atomic>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/com/Text.h"
#include "platform/registry/Registry.h"

namespace com {
namespace {

struct InprocClass {
  DWORD cookie;
  CLSID clsid;
  ClassFactoryFunction factory;
  std::string progId;
};

// In-process classes; rpc/ registers and creates from its own threads.
class ClassTable final {
 public:
  DWORD Register(const CLSID& clsid, ClassFactoryFunction factory, std::string progId) {
    std::lock_guard lock(mutex_);
    DWORD cookie = nextCookie_++;
    classes_.push_back({cookie, clsid, std::move(factory), std::move(progId)});
    return cookie;
  }

  void Revoke(DWORD cookie) {
    std::lock_guard lock(mutex_);
    std::erase_if(classes_, [cookie](const InprocClass& c) { return c.cookie == cookie; });
  }

  // A copy of the factory, so that it runs without the lock.
  ClassFactoryFunction Find(const CLSID& clsid) {
    std::lock_guard lock(mutex_);
    for (auto it = classes_.rbegin(); it != classes_.rend(); ++it)
      if (it->clsid == clsid) return it->factory;
    return {};
  }

  std::optional<CLSID> FindByProgId(std::string_view progId) {
    std::lock_guard lock(mutex_);
    for (auto it = classes_.rbegin(); it != classes_.rend(); ++it)
      if (!it->progId.empty() && EqualsIgnoringAsciiCase(it->progId, progId)) return it->clsid;
    return std::nullopt;
  }

 private:
  static bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
      if (lower(a[i]) != lower(b[i])) return false;
    return true;
  }

  std::mutex mutex_;
  DWORD nextCookie_ = 1;
  std::vector<InprocClass> classes_;
};

ClassTable& Classes() {
  static ClassTable* table = new ClassTable;  // lives as long as the process
  return *table;
}

std::atomic<ServerActivator*> installedActivator{nullptr};

// Makes every entry carry hr and no interface, and returns hr.
HRESULT FailAll(HRESULT hr, DWORD count, MULTI_QI* results) {
  for (DWORD i = 0; i < count; ++i) {
    if (results[i].pItf) results[i].pItf->Release();
    results[i].pItf = nullptr;
    results[i].hr = hr;
  }
  return hr;
}

// Makes the entries consistent (an interface exactly where hr succeeded)
// and sums them up.
HRESULT Summarize(DWORD count, MULTI_QI* results) {
  DWORD succeeded = 0;
  for (DWORD i = 0; i < count; ++i) {
    MULTI_QI& r = results[i];
    if (SUCCEEDED(r.hr) && !r.pItf) r.hr = E_NOINTERFACE;
    if (FAILED(r.hr) && r.pItf) {
      r.pItf->Release();
      r.pItf = nullptr;
    }
    if (SUCCEEDED(r.hr)) ++succeeded;
  }
  if (succeeded == count) return S_OK;
  return succeeded > 0 ? CO_S_NOTALLINTERFACES : E_NOINTERFACE;
}

HRESULT CreateInproc(const ClassFactoryFunction& factory, DWORD count, MULTI_QI* results) {
  IUnknown* object = nullptr;
  HRESULT hr = factory(IID_IUnknown, reinterpret_cast<void**>(&object));
  if (SUCCEEDED(hr) && !object) hr = E_UNEXPECTED;
  if (FAILED(hr)) return FailAll(hr, count, results);
  for (DWORD i = 0; i < count; ++i)
    results[i].hr =
        object->QueryInterface(*results[i].pIID, reinterpret_cast<void**>(&results[i].pItf));
  object->Release();
  return Summarize(count, results);
}

// The computer the activator is to reach: the COSERVERINFO name for a remote
// context, else "" (this machine).
std::u16string HostFor(DWORD context, const COSERVERINFO* serverInfo) {
  if (!(context & CLSCTX_REMOTE_SERVER) || !serverInfo) return {};
  return std::u16string(WideView(serverInfo->pwszName));
}

}  // namespace

HRESULT CLSIDFromString(LPCOLESTR text, CLSID* clsid) {
  if (!text) return E_INVALIDARG;
  if (!clsid) return E_POINTER;
  std::string name = Utf16ToUtf8(WideView(text));
  if (name.empty()) return CO_E_CLASSSTRING;
  if (name.front() == '{') return ParseGuid(name, clsid) ? S_OK : CO_E_CLASSSTRING;
  if (std::optional<CLSID> inproc = Classes().FindByProgId(name)) {
    *clsid = *inproc;
    return S_OK;
  }
  if (auto entry = tagwell::registry::InstalledServers().FindByProgId(name)) {
    *clsid = entry->clsid;
    return S_OK;
  }
  return CO_E_CLASSSTRING;
}

HRESULT CoCreateInstanceEx(REFCLSID clsid, IUnknown* outer, DWORD context, COSERVERINFO* serverInfo,
                           DWORD count, MULTI_QI* results) {
  if (count == 0 || !results) return E_INVALIDARG;
  for (DWORD i = 0; i < count; ++i) {
    if (!results[i].pIID) return E_INVALIDARG;
    results[i].pItf = nullptr;
    results[i].hr = E_NOINTERFACE;
  }
  if (outer) return FailAll(CLASS_E_NOAGGREGATION, count, results);

  if (context & CLSCTX_INPROC_SERVER) {
    if (ClassFactoryFunction factory = Classes().Find(clsid))
      return CreateInproc(factory, count, results);
  }
  ServerActivator* activator = installedActivator.load();
  if ((context & (CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER)) && activator) {
    HRESULT hr = activator->Activate(clsid, HostFor(context, serverInfo), count, results);
    return FAILED(hr) ? FailAll(hr, count, results) : Summarize(count, results);
  }
  return FailAll(REGDB_E_CLASSNOTREG, count, results);
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  MULTI_QI qi{&riid, nullptr, S_OK};
  HRESULT hr = CoCreateInstanceEx(clsid, outer, context, nullptr, 1, &qi);
  if (FAILED(hr)) return hr;
  *ppv = qi.pItf;
  return S_OK;
}

DWORD RegisterInprocClass(REFCLSID clsid, ClassFactoryFunction factory, std::string progId) {
  if (!factory) return 0;
  return Classes().Register(clsid, std::move(factory), std::move(progId));
}

void RevokeInprocClass(DWORD cookie) {
  Classes().Revoke(cookie);
}

void SetServerActivator(ServerActivator* activator) {
  installedActivator.store(activator);
}

ServerActivator* GetServerActivator() {
  return installedActivator.load();
}

HRESULT CLSIDFromProgIDOnComputer(const std::u16string& host, const std::u16string& progId,
                                  CLSID* clsid) {
  if (!clsid) return E_POINTER;
  ServerActivator* activator = installedActivator.load();
  return activator ? activator->ClassOnComputer(host, progId, clsid) : E_NOTIMPL;
}

HRESULT ListServersOnComputer(const std::u16string& host, std::vector<std::u16string>* progIds) {
  if (!progIds) return E_POINTER;
  ServerActivator* activator = installedActivator.load();
  return activator ? activator->ServersOnComputer(host, progIds) : E_NOTIMPL;
}

}  // namespace com

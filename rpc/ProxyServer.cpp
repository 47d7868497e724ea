// Proxies of the server object's interfaces: IOPCServer,
// IOPCServerPublicGroups and IPersistFile.
#include "rpc/Marshal.h"
#include "rpc/ProxyInterfaces.h"

namespace tagwell::rpc {

using namespace com;

HRESULT ServerProxy::AddGroup(LPCWSTR szName, BOOL bActive, DWORD dwRequestedUpdateRate,
                              OPCHANDLE hClientGroup, LONG* pTimeBias, FLOAT* pPercentDeadband,
                              DWORD dwLCID, OPCHANDLE* phServerGroup, DWORD* pRevisedUpdateRate,
                              REFIID riid, LPUNKNOWN* ppUnk) {
  if (!phServerGroup || !pRevisedUpdateRate || !ppUnk) return E_POINTER;
  *ppUnk = nullptr;
  auto request = cap().addGroupRequest();
  if (szName) request.setName(WideToWire(szName));
  request.setActive(bActive);
  request.setRequestedUpdateRate(dwRequestedUpdateRate);
  request.setClientGroup(hClientGroup);
  if (pTimeBias) {
    request.setTimeBias(*pTimeBias);
    request.setHasTimeBias(true);
  }
  if (pPercentDeadband) {
    request.setPercentDeadband(*pPercentDeadband);
    request.setHasPercentDeadband(true);
  }
  request.setLcid(dwLCID);
  GuidToWire(riid, request.initIid());
  return connection().Call(request, [&](auto answer) {
    *phServerGroup = answer.getServerGroup();
    *pRevisedUpdateRate = answer.getRevisedUpdateRate();
    return TakeObject(answer.getHr(), answer.hasGroup(), answer.getGroup(), riid,
                      reinterpret_cast<void**>(ppUnk));
  });
}

HRESULT ServerProxy::GetErrorString(HRESULT dwError, LCID dwLocale, LPWSTR* ppString) {
  if (!ppString) return E_POINTER;
  *ppString = nullptr;
  auto request = cap().getErrorStringRequest();
  request.setError(dwError);
  request.setLocale(dwLocale);
  return connection().Call(request, [&](auto answer) {
    HRESULT hr = TaskWideFromWire(answer.hasText(), answer.getText(), ppString);
    return FAILED(hr) ? hr : answer.getHr();
  });
}

HRESULT ServerProxy::GetGroupByName(LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk) {
  if (!ppUnk) return E_POINTER;
  *ppUnk = nullptr;
  auto request = cap().getGroupByNameRequest();
  if (szName) request.setName(WideToWire(szName));
  GuidToWire(riid, request.initIid());
  return connection().Call(request, [&](auto answer) {
    return TakeObject(answer.getHr(), answer.hasGroup(), answer.getGroup(), riid,
                      reinterpret_cast<void**>(ppUnk));
  });
}

HRESULT ServerProxy::GetStatus(OPCSERVERSTATUS** ppServerStatus) {
  if (!ppServerStatus) return E_POINTER;
  *ppServerStatus = nullptr;
  auto request = cap().getStatusRequest();
  return connection().Call(request, [&](auto answer) {
    if (answer.hasStatus()) {
      HRESULT hr = StatusFromWire(answer.getStatus(), ppServerStatus);
      if (FAILED(hr)) return hr;
    }
    return answer.getHr();
  });
}

HRESULT ServerProxy::RemoveGroup(OPCHANDLE hServerGroup, BOOL bForce) {
  auto request = cap().removeGroupRequest();
  request.setServerGroup(hServerGroup);
  request.setForce(bForce);
  return connection().Call(request, HrOnly());
}

HRESULT ServerProxy::CreateGroupEnumerator(OPCENUMSCOPE dwScope, REFIID riid, LPUNKNOWN* ppUnk) {
  if (!ppUnk) return E_POINTER;
  *ppUnk = nullptr;
  auto request = cap().createGroupEnumeratorRequest();
  request.setScope(dwScope);
  GuidToWire(riid, request.initIid());
  return connection().Call(request, [&](auto answer) {
    return TakeObject(answer.getHr(), answer.hasEnumerator(), answer.getEnumerator(), riid,
                      reinterpret_cast<void**>(ppUnk));
  });
}

HRESULT PublicGroupsProxy::GetPublicGroupByName(LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk) {
  if (!ppUnk) return E_POINTER;
  *ppUnk = nullptr;
  auto request = cap().getPublicGroupByNameRequest();
  if (szName) request.setName(WideToWire(szName));
  GuidToWire(riid, request.initIid());
  return connection().Call(request, [&](auto answer) {
    return TakeObject(answer.getHr(), answer.hasGroup(), answer.getGroup(), riid,
                      reinterpret_cast<void**>(ppUnk));
  });
}

HRESULT PublicGroupsProxy::RemovePublicGroup(OPCHANDLE hServerGroup, BOOL bForce) {
  auto request = cap().removePublicGroupRequest();
  request.setServerGroup(hServerGroup);
  request.setForce(bForce);
  return connection().Call(request, HrOnly());
}

HRESULT PersistFileProxy::GetClassID(CLSID* pClassID) {
  if (!pClassID) return E_POINTER;
  auto request = cap().getClassIdRequest();
  return connection().Call(request, [&](auto answer) {
    *pClassID = GuidFromWire(answer.getClsid());
    return answer.getHr();
  });
}

HRESULT PersistFileProxy::IsDirty() {
  auto request = cap().isDirtyRequest();
  return connection().Call(request, HrOnly());
}

HRESULT PersistFileProxy::Load(LPCOLESTR pszFileName, DWORD dwMode) {
  auto request = cap().loadRequest();
  if (pszFileName) request.setFileName(WideToWire(pszFileName));
  request.setMode(dwMode);
  return connection().Call(request, HrOnly());
}

HRESULT PersistFileProxy::Save(LPCOLESTR pszFileName, BOOL fRemember) {
  auto request = cap().saveRequest();
  if (pszFileName) request.setFileName(WideToWire(pszFileName));
  request.setRemember(fRemember);
  return connection().Call(request, HrOnly());
}

HRESULT PersistFileProxy::SaveCompleted(LPCOLESTR pszFileName) {
  auto request = cap().saveCompletedRequest();
  if (pszFileName) request.setFileName(WideToWire(pszFileName));
  return connection().Call(request, HrOnly());
}

HRESULT PersistFileProxy::GetCurFile(LPOLESTR* ppszFileName) {
  if (!ppszFileName) return E_POINTER;
  *ppszFileName = nullptr;
  auto request = cap().getCurFileRequest();
  return connection().Call(request, [&](auto answer) {
    HRESULT hr = TaskWideFromWire(answer.hasFileName(), answer.getFileName(), ppszFileName);
    return FAILED(hr) ? hr : answer.getHr();
  });
}

}  // namespace tagwell::rpc

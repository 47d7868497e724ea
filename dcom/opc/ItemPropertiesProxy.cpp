// IOPCItemProperties over DCOM.
#include "dcom/NdrOaut.h"
#include "dcom/opc/ClientProxies.h"
#include "dcom/opc/OpcNdr.h"
#include "dcom/opc/Opnums.h"

namespace tagwell::dcom::opc {

using namespace com;
using namespace opnum::item_properties;

namespace {

// [out, size_is(,n)] LPWSTR**: task-allocator strings in a task array.
LPWSTR* TakeStrings(NdrReader& in, std::uint32_t n) {
  if (!in.Pointer()) return nullptr;
  if (in.Conformance(4) != n) {
    in.Fail();
    return nullptr;
  }
  std::vector<std::uint32_t> present(n);
  for (auto& p : present) p = in.Pointer();
  auto* out = static_cast<LPWSTR*>(CoTaskMemAlloc(sizeof(LPWSTR) * (n ? n : 1)));
  for (std::uint32_t i = 0; out && i < n; ++i) {
    out[i] = nullptr;
    if (!present[i] || !in.ok()) continue;
    std::u16string text = in.WideString();
    out[i] = static_cast<LPWSTR>(CoTaskMemAlloc((text.size() + 1) * sizeof(WCHAR)));
    if (out[i]) {
      std::copy(text.begin(), text.end(), out[i]);
      out[i][text.size()] = 0;
    }
  }
  return out;
}

void FreeStrings(LPWSTR* texts, std::uint32_t n) {
  for (std::uint32_t i = 0; texts && i < n; ++i) CoTaskMemFree(texts[i]);
  CoTaskMemFree(texts);
}

}  // namespace

HRESULT ItemPropertiesProxy::QueryAvailableProperties(LPWSTR szItemID, DWORD* pdwCount,
                                                      DWORD** ppPropertyIDs,
                                                      LPWSTR** ppDescriptions,
                                                      VARTYPE** ppvtDataTypes) {
  if (!pdwCount || !ppPropertyIDs || !ppDescriptions || !ppvtDataTypes) return E_POINTER;
  *pdwCount = 0;
  *ppPropertyIDs = nullptr;
  *ppDescriptions = nullptr;
  *ppvtDataTypes = nullptr;
  std::uint32_t count = 0;
  std::vector<DWORD> ids;
  std::vector<VARTYPE> types;
  LPWSTR* descriptions = nullptr;
  HRESULT answer = E_FAIL;
  HRESULT hr = Call(
      IID_IOPCItemProperties, kQueryAvailableProperties,
      [&](NdrWriter& w) { PutString(w, szItemID ? szItemID : u""); },
      [&](NdrReader& in) {
        count = in.U32();
        if (in.Pointer()) ids = in.Array<DWORD>();
        descriptions = TakeStrings(in, count);
        if (in.Pointer()) types = in.Array<VARTYPE>();
        if (ids.size() != count || types.size() != count) in.Fail();
        answer = in.I32();
      });
  if (FAILED(hr)) {
    FreeStrings(descriptions, count);
    return hr;
  }
  *pdwCount = count;
  *ppPropertyIDs = TaskCopy(ids);
  *ppDescriptions = descriptions;
  *ppvtDataTypes = TaskCopy(types);
  return answer;
}

HRESULT ItemPropertiesProxy::GetItemProperties(LPWSTR szItemID, DWORD dwCount,
                                               DWORD* pdwPropertyIDs, VARIANT** ppvData,
                                               HRESULT** ppErrors) {
  if (!ppvData || !ppErrors) return E_POINTER;
  *ppvData = nullptr;
  *ppErrors = nullptr;
  if (dwCount == 0 || !pdwPropertyIDs) return E_INVALIDARG;
  VARIANT* values = nullptr;
  HRESULT* errors = nullptr;
  HRESULT answer = E_FAIL;
  auto freeValues = [&] {
    for (DWORD i = 0; values && i < dwCount; ++i) VariantClear(&values[i]);
    CoTaskMemFree(values);
    values = nullptr;
  };
  HRESULT hr = Call(
      IID_IOPCItemProperties, kGetItemProperties,
      [&](NdrWriter& w) {
        PutString(w, szItemID ? szItemID : u"");
        w.U32(dwCount);
        w.Array<DWORD>({pdwPropertyIDs, dwCount});
      },
      [&](NdrReader& in) {
        if (in.Pointer()) {
          if (in.Conformance(4) != dwCount) return in.Fail();
          std::vector<std::uint32_t> present(dwCount);
          for (auto& p : present) p = in.Pointer();
          values = static_cast<VARIANT*>(CoTaskMemAlloc(sizeof(VARIANT) * dwCount));
          for (DWORD i = 0; values && i < dwCount; ++i) VariantInit(&values[i]);
          for (DWORD i = 0; values && i < dwCount && in.ok(); ++i) {
            if (!present[i]) return in.Fail();
            ReadVariantBody(in, &values[i]);
          }
          if (dwCount) in.Align(8);  // the last body is padded to 8 bytes
        }
        errors = ReadErrors(in, dwCount);
        answer = in.I32();
      });
  if (FAILED(hr)) {
    freeValues();
    CoTaskMemFree(errors);
    return hr;
  }
  *ppvData = values;
  *ppErrors = errors;
  return answer;
}

HRESULT ItemPropertiesProxy::LookupItemIDs(LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs,
                                           LPWSTR** ppszNewItemIDs, HRESULT** ppErrors) {
  if (!ppszNewItemIDs || !ppErrors) return E_POINTER;
  *ppszNewItemIDs = nullptr;
  *ppErrors = nullptr;
  if (dwCount == 0 || !pdwPropertyIDs) return E_INVALIDARG;
  LPWSTR* names = nullptr;
  HRESULT* errors = nullptr;
  HRESULT answer = E_FAIL;
  HRESULT hr = Call(
      IID_IOPCItemProperties, kLookupItemIds,
      [&](NdrWriter& w) {
        PutString(w, szItemID ? szItemID : u"");
        w.U32(dwCount);
        w.Array<DWORD>({pdwPropertyIDs, dwCount});
      },
      [&](NdrReader& in) {
        names = TakeStrings(in, dwCount);
        errors = ReadErrors(in, dwCount);
        answer = in.I32();
      });
  if (FAILED(hr)) {
    FreeStrings(names, dwCount);
    CoTaskMemFree(errors);
    return hr;
  }
  *ppszNewItemIDs = names;
  *ppErrors = errors;
  return answer;
}

}  // namespace tagwell::dcom::opc

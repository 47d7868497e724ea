// IEnumString over DCOM.
#include "dcom/opc/ClientProxies.h"
#include "dcom/opc/Opnums.h"

namespace tagwell::dcom::opc {

using namespace com;
using namespace opnum::enumerator;

namespace {}  // namespace

HRESULT EnumStringProxy::Next(ULONG celt, LPOLESTR* rgelt, ULONG* pceltFetched) {
  if (!rgelt || (celt > 1 && !pceltFetched)) return E_POINTER;
  HRESULT answer = E_FAIL;
  std::vector<LPOLESTR> texts;
  HRESULT hr = Call(
      IID_IEnumString, kNext, [&](NdrWriter& w) { w.U32(celt); },
      [&](NdrReader& in) {
        // [out, size_is(celt), length_is(*pceltFetched)] LPOLESTR*
        if (in.U32() != celt) return in.Fail();
        const std::uint32_t count = in.Variance(celt);
        std::vector<std::uint32_t> present(in.ok() ? count : 0);
        for (auto& p : present) p = in.Pointer();
        for (std::uint32_t p : present) {
          std::u16string text = p ? in.WideString() : std::u16string();
          if (!in.ok()) break;
          auto* copy = static_cast<LPOLESTR>(CoTaskMemAlloc((text.size() + 1) * sizeof(WCHAR)));
          if (copy) {
            std::copy(text.begin(), text.end(), copy);
            copy[text.size()] = 0;
          }
          texts.push_back(p ? copy : (CoTaskMemFree(copy), nullptr));
        }
        if (in.U32() != count) in.Fail();
        answer = in.I32();
      });
  if (FAILED(hr)) {
    for (LPOLESTR t : texts) CoTaskMemFree(t);
    return hr;
  }
  for (std::size_t i = 0; i < texts.size(); ++i) rgelt[i] = texts[i];
  if (pceltFetched) *pceltFetched = static_cast<ULONG>(texts.size());
  return answer;
}

HRESULT EnumStringProxy::Skip(ULONG celt) {
  HRESULT answer = E_FAIL;
  HRESULT hr = Call(
      IID_IEnumString, kSkip, [&](NdrWriter& w) { w.U32(celt); },
      [&](NdrReader& in) { answer = in.I32(); });
  return FAILED(hr) ? hr : answer;
}

HRESULT EnumStringProxy::Reset() {
  HRESULT answer = E_FAIL;
  HRESULT hr = Call(
      IID_IEnumString, kReset, [](NdrWriter&) {}, [&](NdrReader& in) { answer = in.I32(); });
  return FAILED(hr) ? hr : answer;
}

HRESULT EnumStringProxy::Clone(IEnumString** ppEnum) {
  if (!ppEnum) return E_POINTER;
  *ppEnum = nullptr;
  return CallForObject(
      IID_IEnumString, kClone, [](NdrWriter&) {}, IID_IEnumString,
      reinterpret_cast<void**>(ppEnum));
}

}  // namespace tagwell::dcom::opc

// IEnumOPCItemAttributes over DCOM.
#include "dcom/opc/ClientProxies.h"
#include "dcom/opc/OpcNdr.h"
#include "dcom/opc/Opnums.h"

namespace tagwell::dcom::opc {

using namespace com;
using namespace opnum::enumerator;

namespace {}  // namespace

HRESULT EnumAttributesProxy::Next(ULONG celt, OPCITEMATTRIBUTES** ppItemArray,
                                  ULONG* pceltFetched) {
  if (!ppItemArray || !pceltFetched) return E_POINTER;
  *ppItemArray = nullptr;
  *pceltFetched = 0;
  OPCITEMATTRIBUTES* records = nullptr;
  std::uint32_t count = 0;
  ULONG fetched = 0;
  HRESULT answer = E_FAIL;
  HRESULT hr = Call(
      IID_IEnumOPCItemAttributes, kNext, [&](NdrWriter& w) { w.U32(celt); },
      [&](NdrReader& in) {
        records = ReadItemAttributes(in, kAnyCount, &count);
        // Each record ends with its value, whose body is padded to 8 bytes.
        if (records) in.Align(8);
        fetched = in.U32();
        if (count > celt || (records && fetched != count) || (!records && fetched != 0)) in.Fail();
        answer = in.I32();
      });
  if (FAILED(hr)) {
    FreeItemAttributes(records, records ? count : 0);
    return hr;
  }
  *ppItemArray = records;
  *pceltFetched = fetched;
  return answer;
}

HRESULT EnumAttributesProxy::Skip(ULONG celt) {
  HRESULT answer = E_FAIL;
  HRESULT hr = Call(
      IID_IEnumOPCItemAttributes, kSkip, [&](NdrWriter& w) { w.U32(celt); },
      [&](NdrReader& in) { answer = in.I32(); });
  return FAILED(hr) ? hr : answer;
}

HRESULT EnumAttributesProxy::Reset() {
  HRESULT answer = E_FAIL;
  HRESULT hr = Call(
      IID_IEnumOPCItemAttributes, kReset, [](NdrWriter&) {},
      [&](NdrReader& in) { answer = in.I32(); });
  return FAILED(hr) ? hr : answer;
}

HRESULT EnumAttributesProxy::Clone(IEnumOPCItemAttributes** ppEnumItemAttributes) {
  if (!ppEnumItemAttributes) return E_POINTER;
  *ppEnumItemAttributes = nullptr;
  return CallForObject(
      IID_IEnumOPCItemAttributes, kClone, [](NdrWriter&) {}, IID_IEnumOPCItemAttributes,
      reinterpret_cast<void**>(ppEnumItemAttributes));
}

}  // namespace tagwell::dcom::opc

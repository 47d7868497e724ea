// What the stubs of the enumerators share: Skip, Reset and Clone around
// the Next of their own element type.
#pragma once

#include "dcom/Runtime.h"
#include "dcom/Stub.h"
#include "dcom/opc/Opnums.h"

namespace tagwell::dcom::opc {

// The most entries one Next may ask for: bounds what one request makes the
// server hold.
inline constexpr com::ULONG kMaxEnumBatch = 4096;

// The call on an enumerator of interface iid whose Next is next.
template <class Enum>
std::uint32_t HandleEnumerator(StubCall& call, const com::IID& iid,
                               std::uint32_t (*next)(StubCall&, Enum*)) {
  auto* items = static_cast<Enum*>(call.itf);
  switch (call.opnum()) {
    case opnum::enumerator::kNext:
      return next(call, items);
    case opnum::enumerator::kSkip: {
      com::ULONG n = call.in.U32();
      if (!call.in.ok()) return kFaultBadStubData;
      call.out.I32(items->Skip(n));
      return 0;
    }
    case opnum::enumerator::kReset:
      call.out.I32(items->Reset());
      return 0;
    case opnum::enumerator::kClone: {
      Enum* copy = nullptr;
      com::HRESULT hr = items->Clone(&copy);
      stub::PutObject(call, copy, iid, &hr);
      call.out.I32(hr);
      return 0;
    }
    default:
      return kFaultOpRange;
  }
}

}  // namespace tagwell::dcom::opc

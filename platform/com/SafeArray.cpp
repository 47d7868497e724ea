#include <cstddef>
#include <cstring>
#include <limits>

#include "platform/com/Memory.h"
#include "platform/com/Variant.h"

namespace com {
namespace {

// A vector is one task-allocator block: this header, then the elements. The
// element type sits in front of the SAFEARRAY, where FADF_HAVEVARTYPE says
// it is.
struct VectorBlock {
  VARTYPE vt;
  SAFEARRAY array;
};

// Elements start on a 16-byte boundary behind the header.
constexpr std::size_t kDataOffset = (sizeof(VectorBlock) + 15) / 16 * 16;

VectorBlock* BlockOf(SAFEARRAY* psa) {
  return reinterpret_cast<VectorBlock*>(reinterpret_cast<unsigned char*>(psa) -
                                        offsetof(VectorBlock, array));
}

// Element size of the supported element types; 0 for the rest.
ULONG ElementSize(VARTYPE vt) {
  if (vt == VT_BSTR) return sizeof(BSTR);
  if (vt == VT_CY) return 0;
  return PlainValueSize(vt);
}

bool IsVector(SAFEARRAY* psa) {
  return psa && psa->cDims == 1;
}

// The element at *indices into *element; DISP_E_BADINDEX outside the bounds.
HRESULT Locate(SAFEARRAY* psa, const LONG* indices, void** element) {
  if (!IsVector(psa) || !indices) return E_INVALIDARG;
  const SAFEARRAYBOUND& b = psa->rgsabound[0];
  std::int64_t offset = std::int64_t{*indices} - b.lLbound;
  if (offset < 0 || offset >= std::int64_t{b.cElements}) return DISP_E_BADINDEX;
  *element = static_cast<unsigned char*>(psa->pvData) + offset * psa->cbElements;
  return S_OK;
}

bool HoldsStrings(SAFEARRAY* psa) {
  return psa->fFeatures & FADF_BSTR;
}

BSTR* Strings(SAFEARRAY* psa) {
  return static_cast<BSTR*>(psa->pvData);
}

// A copy of b; false when b is a string and memory ran out.
bool CopyString(BSTR b, BSTR* out) {
  *out = b ? SysAllocStringLen(b, SysStringLen(b)) : nullptr;
  return *out || !b;
}

}  // namespace

SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lowerBound, ULONG elements) {
  ULONG size = ElementSize(vt);
  if (size == 0) return nullptr;
  if (elements > (std::numeric_limits<std::size_t>::max() - kDataOffset) / size) return nullptr;
  std::size_t bytes = kDataOffset + std::size_t{elements} * size;
  auto* raw = static_cast<unsigned char*>(CoTaskMemAlloc(bytes));
  if (!raw) return nullptr;
  std::memset(raw, 0, bytes);
  auto* block = reinterpret_cast<VectorBlock*>(raw);
  block->vt = vt;
  SAFEARRAY& sa = block->array;
  sa.cDims = 1;
  sa.fFeatures = vt == VT_BSTR ? FADF_HAVEVARTYPE | FADF_BSTR : FADF_HAVEVARTYPE;
  sa.cbElements = size;
  sa.cLocks = 0;
  sa.pvData = raw + kDataOffset;
  sa.rgsabound[0] = {elements, lowerBound};
  return &sa;
}

HRESULT SafeArrayDestroy(SAFEARRAY* psa) {
  if (!IsVector(psa)) return E_INVALIDARG;
  if (psa->cLocks > 0) return DISP_E_ARRAYISLOCKED;
  if (HoldsStrings(psa))
    for (ULONG i = 0; i < psa->rgsabound[0].cElements; ++i) SysFreeString(Strings(psa)[i]);
  CoTaskMemFree(BlockOf(psa));
  return S_OK;
}

HRESULT SafeArrayCopy(SAFEARRAY* psa, SAFEARRAY** ppsaOut) {
  if (!ppsaOut) return E_INVALIDARG;
  *ppsaOut = nullptr;
  if (!psa) return S_OK;  // copying no array gives no array
  if (!IsVector(psa)) return E_INVALIDARG;
  const SAFEARRAYBOUND& b = psa->rgsabound[0];
  SAFEARRAY* copy = SafeArrayCreateVector(BlockOf(psa)->vt, b.lLbound, b.cElements);
  if (!copy) return E_OUTOFMEMORY;
  if (!HoldsStrings(psa)) {
    std::memcpy(copy->pvData, psa->pvData, std::size_t{b.cElements} * psa->cbElements);
  } else {
    for (ULONG i = 0; i < b.cElements; ++i) {
      if (!CopyString(Strings(psa)[i], &Strings(copy)[i])) {
        SafeArrayDestroy(copy);
        return E_OUTOFMEMORY;
      }
    }
  }
  *ppsaOut = copy;
  return S_OK;
}

HRESULT SafeArrayGetVartype(SAFEARRAY* psa, VARTYPE* pvt) {
  if (!IsVector(psa) || !pvt) return E_INVALIDARG;
  *pvt = BlockOf(psa)->vt;
  return S_OK;
}

UINT SafeArrayGetDim(SAFEARRAY* psa) {
  return psa ? psa->cDims : 0;
}

UINT SafeArrayGetElemsize(SAFEARRAY* psa) {
  return psa ? psa->cbElements : 0;
}

HRESULT SafeArrayGetLBound(SAFEARRAY* psa, UINT dim, LONG* plLbound) {
  if (!IsVector(psa) || !plLbound) return E_INVALIDARG;
  if (dim != 1) return DISP_E_BADINDEX;
  *plLbound = psa->rgsabound[0].lLbound;
  return S_OK;
}

HRESULT SafeArrayGetUBound(SAFEARRAY* psa, UINT dim, LONG* plUbound) {
  if (!IsVector(psa) || !plUbound) return E_INVALIDARG;
  if (dim != 1) return DISP_E_BADINDEX;
  const SAFEARRAYBOUND& b = psa->rgsabound[0];
  // An empty vector has an upper bound one below its lower bound.
  std::int64_t upper = std::int64_t{b.lLbound} + b.cElements - 1;
  if (upper > std::numeric_limits<LONG>::max()) return DISP_E_OVERFLOW;
  *plUbound = static_cast<LONG>(upper);
  return S_OK;
}

HRESULT SafeArrayAccessData(SAFEARRAY* psa, void** ppvData) {
  if (!IsVector(psa) || !ppvData) return E_INVALIDARG;
  ++psa->cLocks;
  *ppvData = psa->pvData;
  return S_OK;
}

HRESULT SafeArrayUnaccessData(SAFEARRAY* psa) {
  if (!IsVector(psa)) return E_INVALIDARG;
  if (psa->cLocks == 0) return E_UNEXPECTED;
  --psa->cLocks;
  return S_OK;
}

HRESULT SafeArrayGetElement(SAFEARRAY* psa, LONG* indices, void* pv) {
  void* element;
  HRESULT hr = Locate(psa, indices, &element);
  if (FAILED(hr)) return hr;
  if (!pv) return E_INVALIDARG;
  if (HoldsStrings(psa))
    return CopyString(*static_cast<BSTR*>(element), static_cast<BSTR*>(pv)) ? S_OK : E_OUTOFMEMORY;
  std::memcpy(pv, element, psa->cbElements);
  return S_OK;
}

HRESULT SafeArrayPutElement(SAFEARRAY* psa, LONG* indices, void* pv) {
  void* element;
  HRESULT hr = Locate(psa, indices, &element);
  if (FAILED(hr)) return hr;
  if (HoldsStrings(psa)) {
    BSTR copy;
    if (!CopyString(static_cast<BSTR>(pv), &copy)) return E_OUTOFMEMORY;
    SysFreeString(*static_cast<BSTR*>(element));
    *static_cast<BSTR*>(element) = copy;
    return S_OK;
  }
  if (!pv) return E_INVALIDARG;
  std::memcpy(element, pv, psa->cbElements);
  return S_OK;
}

}  // namespace com

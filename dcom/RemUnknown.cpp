// IRemUnknown and IRemUnknown2 of the object exporter.
#include "dcom/Iids.h"
#include "dcom/NdrOaut.h"
#include "dcom/Runtime.h"

namespace tagwell::dcom {

using namespace com;

namespace {

enum : std::uint16_t {
  kRemQueryInterface = 3,
  kRemAddRef = 4,
  kRemRelease = 5,
  kRemQueryInterface2 = 6,
};

struct InterfaceRef {
  IPID ipid;
  std::uint32_t publicRefs;
};

std::vector<InterfaceRef> ReadInterfaceRefs(NdrReader& in) {
  std::uint16_t count = in.U16();
  std::uint32_t n = in.Conformance(24);
  std::vector<InterfaceRef> refs;
  if (!in.ok() || n != count) {
    in.Fail();
    return refs;
  }
  for (std::uint32_t i = 0; i < n && in.ok(); ++i) {
    IPID ipid = in.Guid();
    std::uint32_t publicRefs = in.U32();
    in.U32();  // private references are not kept apart
    refs.push_back({ipid, publicRefs});
  }
  return refs;
}

std::vector<IID> ReadIids(NdrReader& in) {
  std::uint16_t count = in.U16();
  std::uint32_t n = in.Conformance(16);
  if (n != count) in.Fail();
  std::vector<IID> iids;
  for (std::uint32_t i = 0; i < n && in.ok(); ++i) iids.push_back(in.Guid());
  return iids;
}

// Aggregates per-interface results as IRemUnknown reports them.
HRESULT Overall(std::size_t succeeded, std::size_t total) {
  if (succeeded == total) return S_OK;
  return succeeded ? S_FALSE : E_NOINTERFACE;
}

}  // namespace

Response Runtime::RemUnknown(const Request& request) {
  NdrReader in(request.stub);
  ReadOrpcThis(in);
  NdrWriter out;
  WriteOrpcThat(out);
  switch (request.opnum) {
    case kRemQueryInterface: {
      IPID ipid = in.Guid();
      std::uint32_t refs = in.U32();
      auto iids = ReadIids(in);
      if (!in.ok()) return Response{kFaultBadStubData, {}};
      std::size_t succeeded = 0;
      out.Pointer(true);
      out.Conformance(static_cast<std::uint32_t>(iids.size()));
      for (const IID& iid : iids) {
        StdObjref std;
        HRESULT hr = exporter_.QueryInterface(ipid, iid, refs, &std);
        if (FAILED(hr)) std = StdObjref{};
        succeeded += SUCCEEDED(hr);
        out.Align(8);
        out.I32(hr);
        WriteStdObjref(out, std);
      }
      out.I32(Overall(succeeded, iids.size()));
      break;
    }
    case kRemAddRef: {
      auto refs = ReadInterfaceRefs(in);
      if (!in.ok()) return Response{kFaultBadStubData, {}};
      out.Conformance(static_cast<std::uint32_t>(refs.size()));
      HRESULT overall = S_OK;
      for (const auto& ref : refs) {
        HRESULT hr = exporter_.AddRef(ref.ipid, ref.publicRefs);
        if (FAILED(hr)) overall = S_FALSE;
        out.I32(hr);
      }
      out.I32(overall);
      break;
    }
    case kRemRelease: {
      auto refs = ReadInterfaceRefs(in);
      if (!in.ok()) return Response{kFaultBadStubData, {}};
      HRESULT overall = S_OK;
      for (const auto& ref : refs)
        if (FAILED(exporter_.Release(ref.ipid, ref.publicRefs))) overall = E_INVALIDARG;
      out.I32(overall);
      break;
    }
    case kRemQueryInterface2: {
      IPID ipid = in.Guid();
      auto iids = ReadIids(in);
      if (!in.ok()) return Response{kFaultBadStubData, {}};
      std::vector<HRESULT> results;
      std::vector<std::vector<std::uint8_t>> objrefs;
      for (const IID& iid : iids) {
        StdObjref std;
        HRESULT hr = exporter_.QueryInterface(ipid, iid, 1, &std);
        results.push_back(hr);
        objrefs.push_back(SUCCEEDED(hr) ? MakeStandardObjref(iid, std, exporter_.bindings())
                                        : std::vector<std::uint8_t>{});
      }
      out.Conformance(static_cast<std::uint32_t>(iids.size()));
      for (HRESULT hr : results) out.I32(hr);
      out.Conformance(static_cast<std::uint32_t>(iids.size()));
      for (const auto& objref : objrefs) out.Pointer(!objref.empty());
      for (const auto& objref : objrefs)
        if (!objref.empty()) WriteInterfacePointer(out, objref);
      std::size_t succeeded = 0;
      for (HRESULT hr : results) succeeded += SUCCEEDED(hr);
      out.I32(Overall(succeeded, iids.size()));
      break;
    }
    default:
      return Response{kFaultOpRange, {}};
  }
  return Response{0, out.Take()};
}

}  // namespace tagwell::dcom

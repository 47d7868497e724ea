// IObjectExporter: the OXID resolver, on the same port as the objects.
#include "dcom/Iids.h"
#include "dcom/NdrOaut.h"
#include "dcom/Runtime.h"

namespace tagwell::dcom {

using namespace com;

namespace {

enum : std::uint16_t {
  kResolveOxid = 0,
  kSimplePing = 1,
  kComplexPing = 2,
  kServerAlive = 3,
  kResolveOxid2 = 4,
  kServerAlive2 = 5,
};

// The level clients should use on the exporter's objects: the level they
// reached us with, and never below what activation demands.
std::uint32_t AuthnHint(const Request& request) {
  auto level = std::max(request.caller.level, AuthLevel::PacketIntegrity);
  return static_cast<std::uint32_t>(level);
}

}  // namespace

Response Runtime::Resolve(const Request& request) {
  NdrReader in(request.stub);
  NdrWriter out;
  switch (request.opnum) {
    case kResolveOxid:
    case kResolveOxid2: {
      OXID oxid = in.U64();
      std::uint16_t count = in.U16();
      std::uint32_t n = in.Conformance(2);
      in.Elements<std::uint16_t>(n);
      if (!in.ok() || n != count) return Response{kFaultBadStubData, {}};
      bool known = oxid == exporter_.oxid();
      if (out.Pointer(known)) WriteBindings(out, exporter_.bindings(), true);
      out.Guid(known ? exporter_.remUnknownIpid() : GUID_NULL);
      out.U32(known ? AuthnHint(request) : 0);
      if (request.opnum == kResolveOxid2) WriteComVersion(out);
      out.U32(known ? 0 : OR_INVALID_OXID);
      break;
    }
    case kSimplePing: {
      SETID set = in.U64();
      if (!in.ok()) return Response{kFaultBadStubData, {}};
      out.U32(SUCCEEDED(exporter_.SimplePing(set)) ? 0 : OR_INVALID_SET);
      break;
    }
    case kComplexPing: {
      SETID set = in.U64();
      in.U16();  // sequence number: pings are idempotent here
      std::uint16_t adds = in.U16();
      std::uint16_t removes = in.U16();
      std::vector<OID> add, remove;
      if (in.Pointer()) add = in.Array<std::uint64_t>();
      if (in.Pointer()) remove = in.Array<std::uint64_t>();
      if (!in.ok() || add.size() != adds || remove.size() != removes)
        return Response{kFaultBadStubData, {}};
      HRESULT hr = exporter_.ComplexPing(&set, add, remove);
      out.U64(SUCCEEDED(hr) ? set : 0);
      out.U16(0);  // ping backoff factor
      out.U32(SUCCEEDED(hr) ? 0 : OR_INVALID_SET);
      break;
    }
    case kServerAlive:
      out.U32(0);
      break;
    case kServerAlive2:
      WriteComVersion(out);
      out.Pointer(true);
      WriteBindings(out, exporter_.bindings(), true);
      out.U32(0);  // reserved
      out.U32(0);
      break;
    default:
      return Response{kFaultOpRange, {}};
  }
  return Response{0, out.Take()};
}

}  // namespace tagwell::dcom

#include "dcom/Activation.h"

#include "dcom/Iids.h"
#include "dcom/NdrOaut.h"
#include "dcom/Runtime.h"
#include "platform/com/Unknown.h"

namespace tagwell::dcom {

using namespace com;

namespace {

constexpr std::uint32_t kMaxProperties = 16;
constexpr std::uint32_t kMaxRequestedInterfaces = 0x8000;
constexpr std::uint32_t kDifferentMachine = 2;  // MSHCTX_DIFFERENTMACHINE

enum : std::uint16_t { kRemoteGetClassObject = 3, kRemoteCreateInstance = 4 };

struct Property {
  CLSID clsid;
  std::span<const std::uint8_t> bytes;
};

// The CustomHeader: which properties follow and their sizes.
std::optional<std::vector<Property>> ReadCustomHeader(std::span<const std::uint8_t> blob) {
  NdrReader outer(blob);
  std::uint32_t size = outer.U32();
  outer.U32();
  if (!outer.ok() || size > blob.size() - 8) return std::nullopt;
  auto rest = blob.subspan(8, size);
  NdrReader r(rest);
  if (!ReadSerializedHeader(r)) return std::nullopt;
  r.U32();  // totalSize
  std::uint32_t headerSize = r.U32();
  r.U32();
  r.U32();  // destCtx
  std::uint32_t count = r.U32();
  r.Guid();  // classInfoClsid
  std::uint32_t clsids = r.Pointer(), sizes = r.Pointer(), reserved = r.Pointer();
  if (!r.ok() || !clsids || !sizes || count == 0 || count > kMaxProperties) return std::nullopt;
  std::vector<CLSID> ids;
  if (r.Conformance(16) != count) return std::nullopt;
  for (std::uint32_t i = 0; i < count; ++i) ids.push_back(r.Guid());
  if (r.Conformance(4) != count) return std::nullopt;
  auto lengths = r.Elements<std::uint32_t>(count);
  if (reserved) r.U32();
  if (!r.ok() || headerSize > rest.size()) return std::nullopt;
  std::vector<Property> properties;
  std::size_t at = headerSize;
  for (std::uint32_t i = 0; i < count; ++i) {
    if (lengths[i] > rest.size() - at) return std::nullopt;
    properties.push_back({ids[i], rest.subspan(at, lengths[i])});
    at += lengths[i];
  }
  return properties;
}

bool ReadInstantiation(std::span<const std::uint8_t> bytes, ActivationRequest* out) {
  NdrReader r(bytes);
  if (!ReadSerializedHeader(r)) return false;
  out->clsid = r.Guid();
  out->classContext = r.U32();
  r.U32();  // actvflags
  r.U32();  // fIsSurrogate
  std::uint32_t count = r.U32();
  r.U32();  // instFlag
  std::uint32_t iids = r.Pointer();
  r.U32();  // thisSize
  r.U16();
  r.U16();  // the client's COM version
  if (!r.ok() || !iids || count == 0 || count > kMaxRequestedInterfaces) return false;
  if (r.Conformance(16) != count) return false;
  for (std::uint32_t i = 0; i < count && r.ok(); ++i) out->iids.push_back(r.Guid());
  return r.ok();
}

void WritePropsOut(NdrWriter& w, const ActivationReply& reply) {
  auto n = static_cast<std::uint32_t>(reply.iids.size());
  BeginSerialized(w);
  w.U32(n);
  w.Pointer(true);
  w.Pointer(true);
  w.Pointer(true);
  w.Conformance(n);
  for (const IID& iid : reply.iids) w.Guid(iid);
  w.Conformance(n);
  for (HRESULT hr : reply.results) w.I32(hr);
  w.Conformance(n);
  for (const auto& objref : reply.objrefs) w.Pointer(!objref.empty());
  for (const auto& objref : reply.objrefs)
    if (!objref.empty()) WriteInterfacePointer(w, objref);
  EndSerialized(w);
}

void WriteScmReply(NdrWriter& w, const ActivationReply& reply) {
  BeginSerialized(w);
  w.Pointer(false);  // pdwReserved
  w.Pointer(true);
  w.U64(reply.oxid);
  w.Pointer(true);
  w.Guid(reply.remUnknown);
  w.U32(reply.authnHint);
  WriteComVersion(w);
  WriteBindings(w, reply.bindings, true);
  EndSerialized(w);
}

// The CustomHeader and the properties after it, as one blob.
std::vector<std::uint8_t> Assemble(const std::vector<CLSID>& ids,
                                   const std::vector<std::vector<std::uint8_t>>& properties) {
  auto n = static_cast<std::uint32_t>(ids.size());
  NdrWriter header;
  BeginSerialized(header);
  header.U32(0);
  header.U32(0);
  header.U32(0);
  header.U32(kDifferentMachine);
  header.U32(n);
  header.Guid(GUID_NULL);
  header.Pointer(true);
  header.Pointer(true);
  header.Pointer(false);
  header.Conformance(n);
  for (const CLSID& id : ids) header.Guid(id);
  header.Conformance(n);
  std::size_t total = 0;
  for (const auto& p : properties) {
    header.U32(static_cast<std::uint32_t>(p.size()));
    total += p.size();
  }
  EndSerialized(header);
  total += header.size();
  header.PatchU32(16, static_cast<std::uint32_t>(total));
  header.PatchU32(20, static_cast<std::uint32_t>(header.size()));
  NdrWriter blob;
  blob.U32(static_cast<std::uint32_t>(total));
  blob.U32(0);
  blob.Raw(header.bytes().data(), header.size());
  for (const auto& p : properties) blob.Raw(p.data(), p.size());
  return blob.Take();
}

Response Answer(NdrWriter& out, HRESULT hr) {
  out.Pointer(false);
  out.I32(hr);
  return Response{0, out.Take()};
}

}  // namespace

void BeginSerialized(NdrWriter& w) {
  w.U8(1);     // version
  w.U8(0x10);  // little-endian
  w.U16(8);    // common header length
  w.U32(0xCCCCCCCC);
  w.U32(0);  // object buffer length, patched
  w.U32(0);
}

void EndSerialized(NdrWriter& w) {
  w.Align(8);
  w.PatchU32(8, static_cast<std::uint32_t>(w.size() - 16));
}

bool ReadSerializedHeader(NdrReader& r) {
  std::uint8_t version = r.U8();
  std::uint8_t endianness = r.U8();
  std::uint16_t length = r.U16();
  r.U32();
  r.U32();  // object buffer length: the property's size bounds it
  r.U32();
  return r.ok() && version == 1 && endianness == 0x10 && length == 8;
}

std::optional<ActivationRequest> ReadActivationProperties(std::span<const std::uint8_t> blob) {
  auto properties = ReadCustomHeader(blob);
  if (!properties) return std::nullopt;
  for (const Property& p : *properties) {
    if (p.clsid != CLSID_InstantiationInfo) continue;
    ActivationRequest request;
    if (!ReadInstantiation(p.bytes, &request)) return std::nullopt;
    return request;
  }
  return std::nullopt;
}

std::vector<std::uint8_t> WriteActivationReply(const ActivationReply& reply) {
  NdrWriter props;
  WritePropsOut(props, reply);
  NdrWriter scm;
  WriteScmReply(scm, reply);
  return Assemble({CLSID_PropsOutInfo, CLSID_ScmReplyInfo}, {props.Take(), scm.Take()});
}

Response Runtime::Activate(const Request& request) {
  if (request.opnum != kRemoteGetClassObject && request.opnum != kRemoteCreateInstance)
    return Response{kFaultOpRange, {}};
  // A hardened Windows refuses activation below packet integrity with
  // ERROR_ACCESS_DENIED in a fault; its clients see E_ACCESSDENIED.
  if (request.caller.level < options_.minActivationLevel) return Response{kFaultAccessDenied, {}};
  NdrReader in(request.stub);
  ReadOrpcThis(in);
  bool outer = in.Pointer() != 0;
  if (outer) ReadInterfacePointer(in);
  std::vector<std::uint8_t> properties;
  if (in.Pointer()) properties = ReadInterfacePointer(in);
  if (!in.ok()) return Response{kFaultBadStubData, {}};
  NdrWriter out;
  WriteOrpcThat(out);
  // Class objects are not handed out: every client gets its own server object.
  if (request.opnum == kRemoteGetClassObject) return Answer(out, E_NOTIMPL);
  if (outer) return Answer(out, CLASS_E_NOAGGREGATION);
  auto objref = ParseObjref(properties);
  if (!objref || objref->flags != OBJREF_CUSTOM || objref->clsid != CLSID_ActivationPropertiesIn)
    return Answer(out, E_INVALIDARG);
  auto wanted = ReadActivationProperties(objref->data);
  if (!wanted) return Answer(out, E_INVALIDARG);
  const ServedClass* served = nullptr;
  for (const auto& c : classes_)
    if (c.clsid == wanted->clsid) served = &c;
  if (!served) return Answer(out, REGDB_E_CLASSNOTREG);
  IUnknown* raw = nullptr;
  HRESULT hr = served->create(&raw);
  if (FAILED(hr) || !raw) return Answer(out, FAILED(hr) ? hr : CO_E_SERVER_EXEC_FAILURE);
  auto object = ComPtr<IUnknown>::Adopt(raw);
  ActivationReply reply;
  std::size_t succeeded = 0;
  for (const IID& iid : wanted->iids) {
    std::vector<std::uint8_t> bytes;
    HRESULT result = exporter_.MarshalObjref(object.Get(), iid, &bytes);
    succeeded += SUCCEEDED(result);
    reply.iids.push_back(iid);
    reply.results.push_back(result);
    reply.objrefs.push_back(SUCCEEDED(result) ? bytes : std::vector<std::uint8_t>{});
  }
  if (succeeded == 0) return Answer(out, E_NOINTERFACE);
  reply.oxid = exporter_.oxid();
  reply.bindings = exporter_.bindings();
  reply.remUnknown = exporter_.remUnknownIpid();
  reply.authnHint = static_cast<std::uint32_t>(request.caller.level);
  auto blob = WriteActivationReply(reply);
  out.Pointer(true);
  WriteInterfacePointer(
      out, MakeCustomObjref(IID_IActivationPropertiesOut, CLSID_ActivationPropertiesOut, blob));
  out.I32(S_OK);
  return Response{0, out.Take()};
}

}  // namespace tagwell::dcom

namespace tagwell::dcom {

using namespace com;

namespace {

bool ReadPropsOut(std::span<const std::uint8_t> bytes, ActivationReply* reply) {
  NdrReader r(bytes);
  if (!ReadSerializedHeader(r)) return false;
  std::uint32_t n = r.U32();
  bool iids = r.Pointer(), results = r.Pointer(), pointers = r.Pointer();
  if (!r.ok() || !iids || !results || !pointers || n == 0 || n > kMaxRequestedInterfaces)
    return false;
  if (r.Conformance(16) != n) return false;
  for (std::uint32_t i = 0; i < n && r.ok(); ++i) reply->iids.push_back(r.Guid());
  if (r.Conformance(4) != n) return false;
  for (std::uint32_t i = 0; i < n && r.ok(); ++i) reply->results.push_back(r.I32());
  if (r.Conformance(4) != n) return false;
  std::vector<std::uint32_t> present(n);
  for (auto& p : present) p = r.Pointer();
  for (std::uint32_t p : present)
    reply->objrefs.push_back(p ? ReadInterfacePointer(r) : std::vector<std::uint8_t>{});
  return r.ok();
}

bool ReadScmReply(std::span<const std::uint8_t> bytes, ActivationReply* reply) {
  NdrReader r(bytes);
  if (!ReadSerializedHeader(r)) return false;
  bool reserved = r.Pointer(), remote = r.Pointer();
  if (reserved) r.U32();
  if (!r.ok() || !remote) return false;
  reply->oxid = r.U64();
  bool bindings = r.Pointer();
  reply->remUnknown = r.Guid();
  reply->authnHint = r.U32();
  r.U16();
  r.U16();
  if (bindings) reply->bindings = ReadBindings(r, true);
  return r.ok() && bindings;
}

}  // namespace

std::vector<std::uint8_t> WriteActivationRequest(const ActivationRequest& request) {
  auto n = static_cast<std::uint32_t>(request.iids.size());
  NdrWriter instantiation;
  BeginSerialized(instantiation);
  instantiation.Guid(request.clsid);
  instantiation.U32(request.classContext);
  instantiation.U32(0);
  instantiation.U32(0);
  instantiation.U32(n);
  instantiation.U32(0);
  instantiation.Pointer(true);
  std::size_t thisSize = instantiation.size();
  instantiation.U32(0);
  WriteComVersion(instantiation);
  instantiation.Conformance(n);
  for (const IID& iid : request.iids) instantiation.Guid(iid);
  EndSerialized(instantiation);
  instantiation.PatchU32(thisSize, static_cast<std::uint32_t>(instantiation.size()));
  NdrWriter scm;
  BeginSerialized(scm);
  scm.Pointer(false);
  scm.Pointer(true);
  scm.U32(2);  // RPC_C_IMP_LEVEL_IDENTIFY
  scm.U16(1);
  scm.Pointer(true);
  scm.Conformance(1);
  scm.U16(kTowerTcp);
  EndSerialized(scm);
  return Assemble({CLSID_InstantiationInfo, CLSID_ScmRequestInfo},
                  {instantiation.Take(), scm.Take()});
}

std::optional<ActivationReply> ReadActivationReply(std::span<const std::uint8_t> blob) {
  auto properties = ReadCustomHeader(blob);
  if (!properties) return std::nullopt;
  ActivationReply reply;
  bool props = false, scm = false;
  for (const Property& p : *properties) {
    if (p.clsid == CLSID_PropsOutInfo && !props) {
      if (!(props = ReadPropsOut(p.bytes, &reply))) return std::nullopt;
    } else if (p.clsid == CLSID_ScmReplyInfo && !scm) {
      if (!(scm = ReadScmReply(p.bytes, &reply))) return std::nullopt;
    }
  }
  if (!props || !scm) return std::nullopt;
  return reply;
}

}  // namespace tagwell::dcom

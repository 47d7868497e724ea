// The server browser's objects and the stubs of IOPCServerList,
// IOPCServerList2 and of their GUID enumerators (IEnumGUID, IOPCEnumGUID,
// the same methods).
#include "dcom/opc/ServerList.h"

#include "dcom/Iids.h"
#include "dcom/opc/Stubs.h"
#include "platform/com/Text.h"

namespace tagwell::dcom {

using namespace com;
using namespace stub;

namespace {

// A COM object answering a fixed set of IIDs with itself; reference
// counted, deleted at the last Release.
template <class Derived>
class Simple : public IUnknown {
 public:
  HRESULT QueryInterface(REFIID iid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (iid != IID_IUnknown && !static_cast<Derived*>(this)->Answers(iid)) return E_NOINTERFACE;
    AddRef();
    *ppv = static_cast<IUnknown*>(this);
    return S_OK;
  }
  ULONG AddRef() override { return refs_.Increment(); }
  ULONG Release() override {
    ULONG left = refs_.Decrement();
    if (left == 0) delete static_cast<Derived*>(this);
    return left;
  }

 private:
  RefCount refs_;
};

class GuidEnum final : public Simple<GuidEnum> {
 public:
  explicit GuidEnum(std::vector<GUID> guids, std::size_t at = 0)
      : guids_(std::move(guids)), at_(at) {}
  bool Answers(const IID& iid) const { return iid == IID_IEnumGUID || iid == IID_IOPCEnumGUID; }

  std::vector<GUID> Next(ULONG celt) {
    std::lock_guard lock(mutex_);
    std::vector<GUID> out;
    while (out.size() < celt && at_ < guids_.size()) out.push_back(guids_[at_++]);
    return out;
  }
  HRESULT Skip(ULONG n) {
    std::lock_guard lock(mutex_);
    std::size_t left = guids_.size() - at_;
    at_ += std::min<std::size_t>(n, left);
    return n <= left ? S_OK : S_FALSE;
  }
  void Reset() {
    std::lock_guard lock(mutex_);
    at_ = 0;
  }
  GuidEnum* Clone() {
    std::lock_guard lock(mutex_);
    return new GuidEnum(guids_, at_);
  }

 private:
  std::mutex mutex_;
  const std::vector<GUID> guids_;
  std::size_t at_;
};

class ServerList final : public Simple<ServerList> {
 public:
  explicit ServerList(std::vector<ServedClass> classes) : classes_(std::move(classes)) {}
  bool Answers(const IID& iid) const {
    return iid == IID_IOPCServerList || iid == IID_IOPCServerList2;
  }
  // The classes in every implemented category asked for (none asked: all)
  // and in each required one; this process knows one category.
  std::vector<GUID> Classes(const std::vector<GUID>& implemented,
                            const std::vector<GUID>& required) const {
    bool matches = implemented.empty();
    for (const GUID& c : implemented) matches |= c == CATID_OPCDAServer20;
    for (const GUID& c : required) matches &= c == CATID_OPCDAServer20;
    std::vector<GUID> out;
    if (matches)
      for (const auto& c : classes_) out.push_back(c.clsid);
    return out;
  }
  const ServedClass* Find(const CLSID& clsid) const {
    for (const auto& c : classes_)
      if (c.clsid == clsid) return &c;
    return nullptr;
  }
  const ServedClass* FindProgId(const std::string& progId) const {
    for (const auto& c : classes_)
      if (c.progId == progId) return &c;
    return nullptr;
  }

 private:
  const std::vector<ServedClass> classes_;
};

enum : std::uint16_t { kEnumClasses = 3, kGetClassDetails, kClsidFromProgId };
enum : std::uint16_t { kNext = 3, kSkip, kReset, kClone };

constexpr std::uint32_t kMaxCategories = 256;
constexpr ULONG kMaxBatch = 4096;

std::vector<GUID> ReadCategories(NdrReader& in) {
  std::uint32_t count = in.U32();
  std::vector<GUID> ids;
  if (count > kMaxCategories) in.Fail();
  if (in.Conformance(16) != count) in.Fail();
  for (std::uint32_t i = 0; i < count && in.ok(); ++i) ids.push_back(in.Guid());
  return ids;
}

void PutText(NdrWriter& w, const std::string& text) {
  w.Pointer(true);
  w.WideString(Utf8ToUtf16(text));
}

// The ProgID without its version ("Vendor.Server.1" -> "Vendor.Server").
std::string VersionIndependent(const std::string& progId) {
  auto dot = progId.rfind('.');
  if (dot == std::string::npos || dot + 1 == progId.size()) return progId;
  for (std::size_t i = dot + 1; i < progId.size(); ++i)
    if (progId[i] < '0' || progId[i] > '9') return progId;
  return progId.substr(0, dot);
}

std::uint32_t HandleList(StubCall& call, bool second) {
  auto* list = static_cast<ServerList*>(call.itf);
  NdrReader& in = call.in;
  NdrWriter& out = call.out;
  switch (call.opnum()) {
    case kEnumClasses: {
      auto implemented = ReadCategories(in);
      auto required = ReadCategories(in);
      if (!in.ok()) return kFaultBadStubData;
      HRESULT hr = S_OK;
      auto* guids = new GuidEnum(list->Classes(implemented, required));
      PutObject(call, guids, second ? IID_IOPCEnumGUID : IID_IEnumGUID, &hr);
      out.I32(hr);
      return 0;
    }
    case kGetClassDetails: {
      CLSID clsid = in.Guid();
      if (!in.ok()) return kFaultBadStubData;
      const ServedClass* c = list->Find(clsid);
      if (!c) {
        for (int i = second ? 3 : 2; i > 0; --i) out.Pointer(false);
        out.I32(REGDB_E_CLASSNOTREG);
        return 0;
      }
      PutText(out, c->progId);
      PutText(out, c->description);
      if (second) PutText(out, VersionIndependent(c->progId));
      out.I32(S_OK);
      return 0;
    }
    case kClsidFromProgId: {
      std::u16string progId = GetString(in);
      if (!in.ok()) return kFaultBadStubData;
      const ServedClass* c = list->FindProgId(Utf16ToUtf8(progId));
      out.Guid(c ? c->clsid : GUID_NULL);
      out.I32(c ? S_OK : CO_E_CLASSSTRING);
      return 0;
    }
    default:
      return kFaultOpRange;
  }
}

std::uint32_t HandleEnum(StubCall& call, const IID& iid) {
  auto* guids = static_cast<GuidEnum*>(call.itf);
  NdrWriter& out = call.out;
  switch (call.opnum()) {
    case kNext: {
      ULONG celt = call.in.U32();
      if (!call.in.ok()) return kFaultBadStubData;
      auto next = celt > kMaxBatch ? std::vector<GUID>{} : guids->Next(celt);
      auto fetched = static_cast<std::uint32_t>(next.size());
      out.Conformance(celt);
      out.U32(0);
      out.U32(fetched);
      for (const GUID& g : next) out.Guid(g);
      out.U32(fetched);
      out.I32(celt > kMaxBatch ? E_INVALIDARG : fetched == celt ? S_OK : S_FALSE);
      return 0;
    }
    case kSkip: {
      ULONG n = call.in.U32();
      if (!call.in.ok()) return kFaultBadStubData;
      out.I32(guids->Skip(n));
      return 0;
    }
    case kReset:
      guids->Reset();
      out.I32(S_OK);
      return 0;
    case kClone: {
      HRESULT hr = S_OK;
      PutObject(call, guids->Clone(), iid, &hr);
      out.I32(hr);
      return 0;
    }
    default:
      return kFaultOpRange;
  }
}

}  // namespace

HRESULT CreateServerList(std::vector<ServedClass> classes, IUnknown** object) {
  if (!object) return E_POINTER;
  *object = new ServerList(std::move(classes));
  return S_OK;
}

namespace opc {

InterfaceStub ServerListStub() {
  return {IID_IOPCServerList, "IOPCServerList", [](StubCall& c) { return HandleList(c, false); }};
}
InterfaceStub ServerList2Stub() {
  return {IID_IOPCServerList2, "IOPCServerList2", [](StubCall& c) { return HandleList(c, true); }};
}
InterfaceStub EnumGuidStub() {
  return {IID_IEnumGUID, "IEnumGUID", [](StubCall& c) { return HandleEnum(c, IID_IEnumGUID); }};
}
InterfaceStub OpcEnumGuidStub() {
  return {IID_IOPCEnumGUID, "IOPCEnumGUID",
          [](StubCall& c) { return HandleEnum(c, IID_IOPCEnumGUID); }};
}

}  // namespace opc

}  // namespace tagwell::dcom

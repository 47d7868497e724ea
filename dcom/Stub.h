// What a stub of an interface served over DCOM sees of one call, and the
// table of the stubs.
//
// A stub reads the [in] parameters after the ORPCTHIS, checks the reader
// before it calls the object, calls it, and writes the [out] parameters and
// the HRESULT after the ORPCTHAT. Everything the object hands out is copied
// to the answer and freed with the task allocator; objects handed out are
// exported and their reference from the call released.
#pragma once

#include <memory>
#include <vector>

#include "dcom/Exporter.h"
#include "dcom/Iids.h"
#include "dcom/Ndr.h"
#include "dcom/rpc/Dispatch.h"
#include "platform/com/Unknown.h"

namespace tagwell::dcom {

class Runtime;

struct StubCall {
  const Request& request;
  Runtime& runtime;
  com::IUnknown* itf;                  // the interface of the IPID called
  std::shared_ptr<ObjectState> state;  // what the DCOM layer keeps of the object
  NdrReader& in;
  NdrWriter& out;

  std::uint16_t opnum() const { return request.opnum; }
  bool readOnly() const { return request.caller.readOnly; }
};

// Answers one call; returns 0, or a fault status (kFaultBadStubData when
// the request did not decode, kFaultOpRange for an opnum it lacks).
using StubHandler = std::uint32_t (*)(StubCall& call);

struct InterfaceStub {
  com::IID iid;
  const char* name;
  StubHandler handler;
};

// The stubs of the interfaces objects are served with; null for others.
const InterfaceStub* FindStub(const com::IID& iid);
const std::vector<InterfaceStub>& Stubs();

// Helpers for stubs ---------------------------------------------------------
namespace stub {

// The [out, iid_is(riid)] interface pointer of an object the call handed
// out (one reference, released here). A marshalling failure writes a null
// pointer and replaces *hr.
void PutObject(StubCall& call, com::IUnknown* object, const com::IID& iid, com::HRESULT* hr);
// [out, size_is(,n)] HRESULT**: the array the object handed out (freed
// here), or null.
void PutErrors(NdrWriter& w, com::HRESULT* errors, std::uint32_t n);
// [out, string] LPWSTR*: the string the object handed out (freed here).
void PutString(NdrWriter& w, com::LPWSTR text);
// A top-level [in, string] LPCWSTR (no pointer on the wire).
std::u16string GetString(NdrReader& r);
// A top-level [in, unique, string] LPCWSTR: nullopt for a null pointer.
bool GetUniqueString(NdrReader& r, std::u16string* text);
// A conformant array of count elements whose count came before it.
template <class T>
std::vector<T> GetArray(NdrReader& r, std::uint32_t count) {
  std::uint32_t n = r.Conformance(sizeof(T));
  if (n != count) r.Fail();
  return r.Elements<T>(n);
}

}  // namespace stub

}  // namespace tagwell::dcom

// Stubs of the enumerators: IEnumString, IEnumUnknown and
// IEnumOPCItemAttributes.
#include "rpc/Stub.h"

namespace tagwell::rpc {

using namespace com;
using namespace stub;

namespace {

// How many entries of rgelt a Next call filled. Without a count from the
// enumerator (the caller passed none on), S_OK means all of them and
// otherwise the entries filled are the leading non-null ones.
template <class T>
ULONG Fetched(const std::vector<T>& entries, HRESULT hr, bool counted, ULONG count) {
  if (counted) return std::min<ULONG>(count, static_cast<ULONG>(entries.size()));
  if (hr == S_OK) return static_cast<ULONG>(entries.size());
  ULONG filled = 0;
  while (filled < entries.size() && entries[filled]) ++filled;
  return filled;
}

}  // namespace

// --- IEnumString ---------------------------------------------------------------
kj::Promise<void> ObjectStub::stringNext(StringNextContext context) {
  if (!enumString_) return NoInterface(context);
  auto params = context.getParams();
  ULONG celt = params.getCount();
  if (celt > kMaxEnumBatch) return Fail(context, E_INVALIDARG);
  std::vector<LPOLESTR> texts(celt, nullptr);
  ULONG count = 0;
  bool counted = params.getWantFetched();
  HRESULT hr = enumString_->Next(celt, texts.data(), counted ? &count : nullptr);
  ULONG fetched = FAILED(hr) ? 0 : Fetched(texts, hr, counted, count);
  auto items = context.getResults().initItems(fetched);
  for (ULONG i = 0; i < fetched; ++i)
    if (texts[i]) items.set(i, WideToWire(texts[i]));
  FreeContents(texts.data(), texts.size());
  return Answer(context, hr);
}

kj::Promise<void> ObjectStub::stringSkip(StringSkipContext context) {
  if (!enumString_) return NoInterface(context);
  return Answer(context, enumString_->Skip(context.getParams().getCount()));
}

kj::Promise<void> ObjectStub::stringReset(StringResetContext context) {
  if (!enumString_) return NoInterface(context);
  return Answer(context, enumString_->Reset());
}

kj::Promise<void> ObjectStub::stringClone(StringCloneContext context) {
  if (!enumString_) return NoInterface(context);
  IEnumString* clone = nullptr;
  HRESULT hr = enumString_->Clone(&clone);
  PutObject(clone, rights_, [&] { return context.getResults().initEnumerator(); });
  return Answer(context, hr);
}

// --- IEnumUnknown ----------------------------------------------------------------
kj::Promise<void> ObjectStub::unknownNext(UnknownNextContext context) {
  if (!enumUnknown_) return NoInterface(context);
  auto params = context.getParams();
  ULONG celt = params.getCount();
  if (celt > kMaxEnumBatch) return Fail(context, E_INVALIDARG);
  std::vector<IUnknown*> objects(celt, nullptr);
  ULONG count = 0;
  bool counted = params.getWantFetched();
  HRESULT hr = enumUnknown_->Next(celt, objects.data(), counted ? &count : nullptr);
  ULONG fetched = FAILED(hr) ? 0 : Fetched(objects, hr, counted, count);
  auto items = context.getResults().initItems(fetched);
  for (ULONG i = 0; i < fetched; ++i)
    if (objects[i]) ObjectStub::Marshal(objects[i], items[i], rights_);
  for (IUnknown* object : objects)
    if (object) object->Release();
  return Answer(context, hr);
}

kj::Promise<void> ObjectStub::unknownSkip(UnknownSkipContext context) {
  if (!enumUnknown_) return NoInterface(context);
  return Answer(context, enumUnknown_->Skip(context.getParams().getCount()));
}

kj::Promise<void> ObjectStub::unknownReset(UnknownResetContext context) {
  if (!enumUnknown_) return NoInterface(context);
  return Answer(context, enumUnknown_->Reset());
}

kj::Promise<void> ObjectStub::unknownClone(UnknownCloneContext context) {
  if (!enumUnknown_) return NoInterface(context);
  IEnumUnknown* clone = nullptr;
  HRESULT hr = enumUnknown_->Clone(&clone);
  PutObject(clone, rights_, [&] { return context.getResults().initEnumerator(); });
  return Answer(context, hr);
}

// --- IEnumOPCItemAttributes ----------------------------------------------------
kj::Promise<void> ObjectStub::attributesNext(AttributesNextContext context) {
  if (!enumAttributes_) return NoInterface(context);
  ULONG celt = context.getParams().getCount();
  OPCITEMATTRIBUTES* records = nullptr;
  ULONG fetched = 0;
  HRESULT hr = enumAttributes_->Next(celt, &records, &fetched);
  if (!records) fetched = 0;
  fetched = std::min(fetched, celt);
  HRESULT marshalled = S_OK;
  auto items = context.getResults().initItems(fetched);
  for (ULONG i = 0; i < fetched && SUCCEEDED(marshalled); ++i)
    marshalled = AttributesToWire(records[i], items[i]);
  FreeTaskArray(records, fetched);
  if (FAILED(marshalled)) return Fail(context, marshalled);
  return Answer(context, hr);
}

kj::Promise<void> ObjectStub::attributesSkip(AttributesSkipContext context) {
  if (!enumAttributes_) return NoInterface(context);
  return Answer(context, enumAttributes_->Skip(context.getParams().getCount()));
}

kj::Promise<void> ObjectStub::attributesReset(AttributesResetContext context) {
  if (!enumAttributes_) return NoInterface(context);
  return Answer(context, enumAttributes_->Reset());
}

kj::Promise<void> ObjectStub::attributesClone(AttributesCloneContext context) {
  if (!enumAttributes_) return NoInterface(context);
  IEnumOPCItemAttributes* clone = nullptr;
  HRESULT hr = enumAttributes_->Clone(&clone);
  PutObject(clone, rights_, [&] { return context.getResults().initEnumerator(); });
  return Answer(context, hr);
}

}  // namespace tagwell::rpc

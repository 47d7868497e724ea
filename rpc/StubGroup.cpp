// Stubs of a group's interfaces: IOPCItemMgt and IOPCSyncIO.
#include "rpc/Stub.h"

namespace tagwell::rpc {

using namespace com;
using namespace stub;

namespace {

// Runs a per-item call of IOPCItemMgt that gives only errors back.
template <class Context, class Call>
kj::Promise<void> ErrorsOnly(Context& context, DWORD count, Call&& call) {
  HRESULT* errors = nullptr;
  HRESULT hr = call(&errors);
  PutErrors(context.getResults(), errors, count);
  return Answer(context, hr);
}

template <class Context, class Call>
kj::Promise<void> AddOrValidate(Context& context, Call&& call) {
  ItemDefArgs items;
  HRESULT hr = items.Assign(context.getParams().getItems());
  if (FAILED(hr)) return Fail(context, hr);
  OPCITEMRESULT* itemResults = nullptr;
  HRESULT* errors = nullptr;
  hr = call(items.size(), items.data(), &itemResults, &errors);
  auto results = context.getResults();
  if (itemResults) {
    auto list = results.initResults(items.size());
    for (DWORD i = 0; i < items.size(); ++i) ItemResultToWire(itemResults[i], list[i]);
    FreeTaskArray(itemResults, items.size());
  }
  PutErrors(results, errors, items.size());
  return Answer(context, hr);
}

}  // namespace

kj::Promise<void> ObjectStub::addItems(AddItemsContext context) {
  if (!itemMgt_) return NoInterface(context);
  return AddOrValidate(
      context, [&](DWORD count, OPCITEMDEF* defs, OPCITEMRESULT** results, HRESULT** errors) {
        return itemMgt_->AddItems(count, defs, results, errors);
      });
}

kj::Promise<void> ObjectStub::validateItems(ValidateItemsContext context) {
  if (!itemMgt_) return NoInterface(context);
  BOOL blobUpdate = context.getParams().getBlobUpdate();
  return AddOrValidate(
      context, [&](DWORD count, OPCITEMDEF* defs, OPCITEMRESULT** results, HRESULT** errors) {
        return itemMgt_->ValidateItems(count, defs, blobUpdate, results, errors);
      });
}

kj::Promise<void> ObjectStub::removeItems(RemoveItemsContext context) {
  if (!itemMgt_) return NoInterface(context);
  auto handles = VectorFromWire<OPCHANDLE>(context.getParams().getServerHandles());
  DWORD count = static_cast<DWORD>(handles.size());
  return ErrorsOnly(context, count, [&](HRESULT** errors) {
    return itemMgt_->RemoveItems(count, handles.data(), errors);
  });
}

kj::Promise<void> ObjectStub::setActiveState(SetActiveStateContext context) {
  if (!itemMgt_) return NoInterface(context);
  auto params = context.getParams();
  auto handles = VectorFromWire<OPCHANDLE>(params.getServerHandles());
  DWORD count = static_cast<DWORD>(handles.size());
  return ErrorsOnly(context, count, [&](HRESULT** errors) {
    return itemMgt_->SetActiveState(count, handles.data(), params.getActive(), errors);
  });
}

kj::Promise<void> ObjectStub::setClientHandles(SetClientHandlesContext context) {
  if (!itemMgt_) return NoInterface(context);
  auto params = context.getParams();
  auto handles = VectorFromWire<OPCHANDLE>(params.getServerHandles());
  auto clients = VectorFromWire<OPCHANDLE>(params.getClientHandles());
  if (clients.size() != handles.size()) return Fail(context, E_INVALIDARG);
  DWORD count = static_cast<DWORD>(handles.size());
  return ErrorsOnly(context, count, [&](HRESULT** errors) {
    return itemMgt_->SetClientHandles(count, handles.data(), clients.data(), errors);
  });
}

kj::Promise<void> ObjectStub::setDatatypes(SetDatatypesContext context) {
  if (!itemMgt_) return NoInterface(context);
  auto params = context.getParams();
  auto handles = VectorFromWire<OPCHANDLE>(params.getServerHandles());
  auto types = VectorFromWire<VARTYPE>(params.getRequestedDataTypes());
  if (types.size() != handles.size()) return Fail(context, E_INVALIDARG);
  DWORD count = static_cast<DWORD>(handles.size());
  return ErrorsOnly(context, count, [&](HRESULT** errors) {
    return itemMgt_->SetDatatypes(count, handles.data(), types.data(), errors);
  });
}

kj::Promise<void> ObjectStub::createEnumerator(CreateEnumeratorContext context) {
  if (!itemMgt_) return NoInterface(context);
  IUnknown* enumerator = nullptr;
  HRESULT hr = itemMgt_->CreateEnumerator(GuidFromWire(context.getParams().getIid()), &enumerator);
  PutObject(enumerator, rights_, [&] { return context.getResults().initEnumerator(); });
  return Answer(context, hr);
}

namespace {

// What a read or write handed back, owned until it is in the answer (or
// dropped with a call the client gave up). It travels between threads on
// the heap (kj::Own), which also keeps GCC's -O2 flow analysis from seeing
// an uninitialized value inside the promise's storage.
struct SyncAnswer {
  HRESULT hr = S_OK;
  OPCITEMSTATE* states = nullptr;
  HRESULT* errors = nullptr;
  DWORD count = 0;
  SyncAnswer(HRESULT h, OPCITEMSTATE* s, HRESULT* e, DWORD n)
      : hr(h), states(s), errors(e), count(n) {}
  SyncAnswer(const SyncAnswer&) = delete;
  SyncAnswer& operator=(const SyncAnswer&) = delete;
  ~SyncAnswer() {
    if (states) FreeTaskArray(states, count);
    CoTaskMemFree(errors);
  }
};

template <class Context>
kj::Promise<void> PutRead(Context& context, SyncAnswer& answer) {
  auto results = context.getResults();
  HRESULT marshalled = S_OK;
  if (answer.states) {
    auto list = results.initStates(answer.count);
    for (DWORD i = 0; i < answer.count && SUCCEEDED(marshalled); ++i)
      marshalled = ItemStateToWire(answer.states[i], list[i]);
  }
  PutErrors(results, std::exchange(answer.errors, nullptr), answer.count);
  if (FAILED(marshalled)) return Fail(context, marshalled);
  return Answer(context, answer.hr);
}

// The promise of an answer that another thread gives: the callback may be
// called on any thread, and at most once matters.
struct CrossThreadAnswer {
  kj::Promise<kj::Own<SyncAnswer>> promise;
  std::function<void(HRESULT, OPCITEMSTATE*, HRESULT*, DWORD)> give;
};

CrossThreadAnswer AwaitAnswer() {
  auto pair = kj::newPromiseAndCrossThreadFulfiller<kj::Own<SyncAnswer>>();
  auto fulfiller = std::make_shared<kj::Own<kj::CrossThreadPromiseFulfiller<kj::Own<SyncAnswer>>>>(
      kj::mv(pair.fulfiller));
  return {kj::mv(pair.promise),
          [fulfiller](HRESULT hr, OPCITEMSTATE* states, HRESULT* errors, DWORD count) {
            (*fulfiller)->fulfill(kj::heap<SyncAnswer>(hr, states, errors, count));
          }};
}

}  // namespace

kj::Promise<void> ObjectStub::read(ReadContext context) {
  if (!syncIo_) return NoInterface(context);
  auto params = context.getParams();
  auto handles = VectorFromWire<OPCHANDLE>(params.getServerHandles());
  DWORD count = static_cast<DWORD>(handles.size());
  auto source = static_cast<OPCDATASOURCE>(params.getSource());
  if (asyncIo_) {
    auto answer = AwaitAnswer();
    asyncIo_->BeginRead(
        source, count, handles.data(),
        [give = answer.give, count](HRESULT hr, OPCITEMSTATE* states, HRESULT* errors) {
          give(hr, states, errors, count);
        });
    return answer.promise.then(
        [context](kj::Own<SyncAnswer> done) mutable { return PutRead(context, *done); });
  }
  OPCITEMSTATE* states = nullptr;
  HRESULT* errors = nullptr;
  HRESULT hr = syncIo_->Read(source, count, handles.data(), &states, &errors);
  SyncAnswer done(hr, states, errors, count);
  return PutRead(context, done);
}

kj::Promise<void> ObjectStub::write(WriteContext context) {
  if (!syncIo_) return NoInterface(context);
  auto params = context.getParams();
  auto handles = VectorFromWire<OPCHANDLE>(params.getServerHandles());
  DWORD count = static_cast<DWORD>(handles.size());
  Received<VARIANT> values(count);
  HRESULT hr = VariantsFromWire(params.getValues(), count, values.Out());
  if (FAILED(hr)) return Fail(context, hr);
  // A client that may only read is told so item by item, as a server
  // tells it of an item it may not write.
  if (rights_ == Rights::ReadOnly) {
    if (count == 0) return Answer(context, E_INVALIDARG);
    std::vector<HRESULT> refused(count, OPC_E_BADRIGHTS);
    FillList(context.getResults().initErrors(count), refused.data());
    return Answer(context, S_FALSE);
  }
  if (asyncIo_) {
    auto answer = AwaitAnswer();
    asyncIo_->BeginWrite(count, handles.data(), values.get(),
                         [give = answer.give, count](HRESULT result, HRESULT* errors) {
                           give(result, nullptr, errors, count);
                         });
    return answer.promise.then([context](kj::Own<SyncAnswer> done) mutable {
      PutErrors(context.getResults(), std::exchange(done->errors, nullptr), done->count);
      return Answer(context, done->hr);
    });
  }
  return ErrorsOnly(context, count, [&](HRESULT** errors) {
    return syncIo_->Write(count, handles.data(), values.get(), errors);
  });
}

}  // namespace tagwell::rpc

// One client connection to a server process: the socket, the Cap'n Proto
// RPC system on it and the deadline of its calls.
//
// Lifetime: shared by every proxy of the objects that came over it; the
// socket closes when the last of them is released, which releases on the
// server every object the connection still held. Thread rules: those of the
// Apartment (owner thread only).
#pragma once

#include <capnp/rpc-twoparty.h>
#include <kj/time.h>

#include <chrono>
#include <memory>

#include "platform/com/CallWait.h"
#include "platform/com/Types.h"
#include "rpc/Apartment.h"
#include "rpc/Errors.h"
#include "rpc/opcda.capnp.h"

namespace tagwell::rpc {

// Runs the thread's call-wait pump every few milliseconds; never resolves.
kj::Promise<void> PumpWhileWaiting(Apartment& apartment);

// Waits on the apartment's loop for promise, at most `timeout` from now:
// null when the time ran out. Exceptions of the promise propagate. The
// deadline is counted from the monotonic clock itself: the loop's timer
// moves only while the loop waits, which is only inside a call, so after a
// quiet spell its idea of now lags behind by the whole spell.
// While it waits, the thread's call-wait pump runs every few milliseconds
// (platform/com/CallWait.h).
template <class T>
kj::Maybe<T> WaitWithin(Apartment& apartment, kj::Promise<T> promise,
                        std::chrono::milliseconds timeout) {
  auto deadline = apartment.timer().atTime(kj::systemPreciseMonotonicClock().now() +
                                           timeout.count() * kj::MILLISECONDS);
  kj::Promise<kj::Maybe<T>> answer =
      promise.then([](T value) -> kj::Maybe<T> { return kj::mv(value); })
          .exclusiveJoin(deadline.then([]() -> kj::Maybe<T> { return nullptr; }));
  if (com::GetCallWaitPump())
    answer = answer.exclusiveJoin(
        PumpWhileWaiting(apartment).then([]() -> kj::Maybe<T> { return nullptr; }));
  com::OutgoingCall waiting;
  return answer.wait(apartment.waitScope());
}

class Connection final {
 public:
  Connection(std::shared_ptr<Apartment> apartment, kj::Own<kj::AsyncIoStream> stream,
             std::chrono::milliseconds callTimeout);
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  ~Connection();

  Apartment& apartment() { return *apartment_; }
  wire::Activator::Client& activator() { return activator_; }

  // Sends request and waits for its answer at most the call timeout. On an
  // answer, returns take(results reader); otherwise RPC_E_TIMEOUT, or the
  // HRESULT of the transport fault. Once the connection is broken, every
  // call gives RPC_E_DISCONNECTED without touching the wire. An exception
  // while take() decodes the answer gives RPC_E_INVALID_DATA.
  template <class Params, class Results, class Take>
  com::HRESULT Call(capnp::Request<Params, Results>& request, Take&& take);

  // Waits (at most the call timeout) until the server has handled
  // everything sent so far, releases included, as a COM release returns
  // only once it is done. On a broken connection or off the owner thread it
  // does nothing; while the server keeps a call past its deadline it only
  // sends what it can without waiting, so releasing the proxies of a hung
  // server does not cost a deadline each.
  void Sync();

 private:
  com::HRESULT BeginCall();
  com::HRESULT EndCall(com::HRESULT hr);
  com::HRESULT DecodeFailed();

  std::shared_ptr<Apartment> apartment_;
  kj::Own<kj::AsyncIoStream> stream_;
  kj::Own<capnp::TwoPartyClient> client_;
  wire::Activator::Client activator_;
  std::chrono::milliseconds callTimeout_;
  bool broken_ = false;
  bool stalled_ = false;  // the last call ran out of time
};

template <class Params, class Results, class Take>
com::HRESULT Connection::Call(capnp::Request<Params, Results>& request, Take&& take) {
  com::HRESULT hr = BeginCall();
  if (hr != com::S_OK) return hr;
  kj::Maybe<capnp::Response<Results>> response;
  try {
    response = WaitWithin(*apartment_, kj::Promise<capnp::Response<Results>>(request.send()),
                          callTimeout_);
  } catch (...) {
    return EndCall(HResultFromCurrentException());
  }
  KJ_IF_MAYBE (answer, response) {
    stalled_ = false;
    try {
      return take(typename Results::Reader(*answer));
    } catch (...) {
      return DecodeFailed();
    }
  }
  stalled_ = true;
  return com::RPC_E_TIMEOUT;
}

}  // namespace tagwell::rpc

#include "rpc/Connection.h"

#include <new>

namespace tagwell::rpc {

namespace {
constexpr auto kPumpInterval = 10 * kj::MILLISECONDS;
}  // namespace

kj::Promise<void> PumpWhileWaiting(Apartment& apartment) {
  return apartment.timer().afterDelay(kPumpInterval).then([&apartment]() {
    com::RunCallWaitPump();
    return PumpWhileWaiting(apartment);
  });
}

Connection::Connection(std::shared_ptr<Apartment> apartment, kj::Own<kj::AsyncIoStream> stream,
                       std::chrono::milliseconds callTimeout)
    : apartment_(std::move(apartment)),
      stream_(kj::mv(stream)),
      client_(kj::heap<capnp::TwoPartyClient>(*stream_)),
      activator_(client_->bootstrap().castAs<wire::Activator>()),
      callTimeout_(callTimeout) {}

Connection::~Connection() {
  // The RPC system goes before the socket it reads.
  activator_ = nullptr;
  client_ = nullptr;
  stream_ = nullptr;
}

void Connection::Sync() {
  if (broken_ || !apartment_->IsOwnerThread()) return;
  if (stalled_) {
    try {
      apartment_->waitScope().poll();
    } catch (...) {
      // A fault of the connection shows at its next call.
    }
    return;
  }
  auto request = activator_.syncRequest();
  Call(request, [](auto) { return com::S_OK; });
}

com::HRESULT Connection::BeginCall() {
  if (!apartment_->IsOwnerThread()) return RPC_E_WRONG_THREAD;
  // A call from the code a waiting call's pump runs would wait inside it.
  if (com::InCallWaitPump()) return com::RPC_E_CANTCALLOUT_ININPUTSYNCCALL;
  // Proxies released on other threads go now, on their own thread.
  apartment_->RunDeferred();
  if (broken_) return com::RPC_E_DISCONNECTED;
  return com::S_OK;
}

com::HRESULT Connection::EndCall(com::HRESULT hr) {
  if (hr == com::RPC_E_DISCONNECTED) broken_ = true;
  return hr;
}

com::HRESULT Connection::DecodeFailed() {
  try {
    throw;
  } catch (const std::bad_alloc&) {
    return com::E_OUTOFMEMORY;
  } catch (...) {
    return RPC_E_INVALID_DATA;
  }
}

}  // namespace tagwell::rpc

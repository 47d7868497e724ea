#include "rpc/Errors.h"

#include <kj/exception.h>

#include <new>

namespace tagwell::rpc {

com::HRESULT HResultFromException(const kj::Exception& exception) {
  switch (exception.getType()) {
    case kj::Exception::Type::DISCONNECTED:
      return com::RPC_E_DISCONNECTED;
    case kj::Exception::Type::OVERLOADED:
      return RPC_E_SERVERCALL_RETRYLATER;
    case kj::Exception::Type::UNIMPLEMENTED:
      return com::E_NOTIMPL;
    case kj::Exception::Type::FAILED:
      break;
  }
  return RPC_E_SERVERFAULT;
}

com::HRESULT HResultFromCurrentException() {
  try {
    throw;
  } catch (const kj::Exception& e) {
    return HResultFromException(e);
  } catch (const std::bad_alloc&) {
    return com::E_OUTOFMEMORY;
  } catch (...) {
    return RPC_E_SERVERFAULT;
  }
}

}  // namespace tagwell::rpc

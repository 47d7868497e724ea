// HRESULTs of the RPC layer, and the one place where Cap'n Proto and KJ
// exceptions become HRESULTs. Nothing outside rpc/ sees a KJ exception.
#pragma once

#include <exception>

#include "platform/com/Types.h"

namespace kj {
class Exception;
}

namespace tagwell::rpc {

// The server raised an exception instead of answering.
inline constexpr com::HRESULT RPC_E_SERVERFAULT = com::MakeHresult(0x80010105);
// The server is too busy to take the call.
inline constexpr com::HRESULT RPC_E_SERVERCALL_RETRYLATER = com::MakeHresult(0x8001010A);
// A proxy was used on another thread than the one that created it.
inline constexpr com::HRESULT RPC_E_WRONG_THREAD = com::MakeHresult(0x8001010E);
// A message from the other side could not be decoded.
inline constexpr com::HRESULT RPC_E_INVALID_DATA = com::MakeHresult(0x8001000F);

// The HRESULT for an exception caught around a remote call: DISCONNECTED
// gives RPC_E_DISCONNECTED, OVERLOADED RPC_E_SERVERCALL_RETRYLATER,
// UNIMPLEMENTED E_NOTIMPL, anything else RPC_E_SERVERFAULT.
com::HRESULT HResultFromException(const kj::Exception& exception);
// The same for whatever is being handled in the current catch block
// (std::bad_alloc gives E_OUTOFMEMORY). Call only inside a catch block.
com::HRESULT HResultFromCurrentException();

}  // namespace tagwell::rpc

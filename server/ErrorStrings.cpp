#include "server/ErrorStrings.h"

#include "platform/opcda/OpcDa.h"
#include "server/ModbusDevice.h"

namespace tagwell::server {
namespace {

struct ErrorEntry {
  com::HRESULT code;
  const char* text;
};

constexpr ErrorEntry kErrors[] = {
    {com::S_OK, "The operation succeeded."},
    {com::S_FALSE, "The operation succeeded for some of the items only."},
    {com::E_FAIL, "Unspecified error."},
    {com::E_NOTIMPL, "The operation is not implemented."},
    {com::E_NOINTERFACE, "The interface is not supported."},
    {com::E_POINTER, "A required pointer is missing."},
    {com::E_ABORT, "The operation was aborted."},
    {com::E_UNEXPECTED, "Catastrophic failure."},
    {com::E_ACCESSDENIED, "Access is denied."},
    {com::E_HANDLE, "The handle is invalid."},
    {com::E_OUTOFMEMORY, "The server ran out of memory."},
    {com::E_INVALIDARG, "One or more arguments are invalid."},
    {com::RPC_E_DISCONNECTED, "The connection to the server is broken."},
    {com::RPC_E_TIMEOUT, "The server did not answer in time."},
    {com::RPC_S_SERVER_UNAVAILABLE, "The server is unavailable."},
    {com::DISP_E_TYPEMISMATCH, "The value does not convert to the type."},
    {com::DISP_E_OVERFLOW, "The value is out of range for the type."},
    {com::OPC_E_INVALIDHANDLE, "The value of the handle is invalid."},
    {com::OPC_E_BADTYPE,
     "The server cannot convert the data between the requested data type and the canonical "
     "data type."},
    {com::OPC_E_PUBLIC, "The requested operation cannot be done on a public group."},
    {com::OPC_E_BADRIGHTS, "The item's access rights do not allow the operation."},
    {com::OPC_E_UNKNOWNITEMID, "The item ID is not defined in the server's address space."},
    {com::OPC_E_INVALIDITEMID, "The item ID does not conform to the server's syntax."},
    {com::OPC_E_INVALIDFILTER, "The filter string is not valid."},
    {com::OPC_E_UNKNOWNPATH, "The item's access path is not known to the server."},
    {com::OPC_E_RANGE, "The value is out of range."},
    {com::OPC_E_DUPLICATENAME, "Duplicate name not allowed."},
    {com::OPC_S_UNSUPPORTEDRATE,
     "The server does not support the requested rate but uses the closest available rate."},
    {com::OPC_S_CLAMP, "The value was accepted but clamped."},
    {com::OPC_S_INUSE, "The operation cannot be completed because the object is still referenced."},
    {com::OPC_E_INVALIDCONFIGFILE, "The server's configuration file is not valid."},
    {com::OPC_E_NOTFOUND, "The requested object was not found."},
    {com::OPC_E_INVALID_PID, "The property ID is not valid for the item."},
};

}  // namespace

const char* ErrorText(com::HRESULT code) {
  for (const ErrorEntry& e : kErrors)
    if (e.code == code) return e.text;
  return ModbusErrorText(code);
}

}  // namespace tagwell::server

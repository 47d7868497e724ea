// The texts IOPCServer::GetErrorString gives.
#pragma once

#include "platform/com/Types.h"

namespace tagwell::server {

// The text for an OPC or common COM result code, or a device's write
// failure (ModbusErrorText), or null for a code the server does not know.
const char* ErrorText(com::HRESULT code);

}  // namespace tagwell::server

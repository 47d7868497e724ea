// A minimal OPC client for the process tests and the peer program: create a
// server through COM activation, one group, items, reads and writes.
#pragma once

#include <string>

#include "platform/opcda/OpcDa.h"

namespace tagwell::testing {

class OpcSession final {
 public:
  // Creates the server named by a ProgID or "{CLSID}" on the computer named
  // `computer` ("" : this one, as a local server) and adds a group.
  com::HRESULT Connect(const std::u16string& server, const std::u16string& computer = u"");
  // Adds item id; its server handle in *handle.
  com::HRESULT AddItem(const std::u16string& id, com::OPCHANDLE* handle);
  // Reads from the device into *value.
  com::HRESULT Read(com::OPCHANDLE handle, com::Variant* value);
  com::HRESULT Write(com::OPCHANDLE handle, const com::VARIANT& value);

  com::IOPCServer* server() const { return server_.Get(); }
  void Release();

 private:
  com::ComPtr<com::IOPCServer> server_;
  com::ComPtr<com::IOPCItemMgt> group_;
};

}  // namespace tagwell::testing

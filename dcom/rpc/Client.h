// The client side of DCE/RPC over TCP: one connection to a server, bound
// to an interface with NTLM at a chosen level, further interfaces by
// alter_context, and calls with fragments and verifiers both ways.
//
// Thread rules: one thread at a time per connection; calls are sequential.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "dcom/rpc/Fragments.h"
#include "dcom/rpc/Ntlm.h"
#include "dcom/rpc/Socket.h"

namespace tagwell::dcom {

struct ClientAuth {
  AuthLevel level = AuthLevel::None;  // None: no auth verifier at all
  std::string user;
  std::string domain;
  std::string password;  // used when ntHash is empty
  std::optional<ntlm::Hash16> ntHash;
  std::string workstation;
};

struct CallResult {
  bool ok = false;          // a response or a fault came back
  std::uint32_t fault = 0;  // non-zero: the fault's status
  Bytes stub;               // the response's stub data
  std::string error;        // when !ok: what went wrong (the connection is then closed)
};

class ClientConnection {
 public:
  ClientConnection() = default;
  ~ClientConnection();
  ClientConnection(const ClientConnection&) = delete;
  ClientConnection& operator=(const ClientConnection&) = delete;

  // Connects to host:port before the timeout ends.
  bool Connect(const std::string& host, std::uint16_t port, std::chrono::milliseconds timeout,
               std::string* error);
  // Binds interface as presentation context 0, logging in as auth says;
  // assocGroup 0 asks for a new association group.
  bool Bind(const SyntaxId& interface, const ClientAuth& auth, std::chrono::milliseconds timeout,
            std::string* error, std::uint32_t assocGroup = 0);
  // Adds interface as a further presentation context; its id in *contextId.
  bool AlterContext(const SyntaxId& interface, std::chrono::milliseconds timeout,
                    std::uint16_t* contextId, std::string* error);
  // One call on presentation context contextId (0: the bound interface).
  CallResult Call(std::uint16_t opnum, const com::GUID* object, ByteView stub,
                  std::chrono::milliseconds timeout, std::uint16_t contextId = 0);
  void Close();

  bool connected() const { return fd_ >= 0; }
  std::uint32_t associationGroup() const { return assocGroup_; }
  std::uint16_t maxXmitFrag() const { return maxXmit_; }

 private:
  // Sends pdu and reads the answer of the same call id.
  bool Exchange(const Bytes& pdu, Bytes* answer, Clock::time_point deadline, std::string* error);
  bool Fail(std::string* error, const std::string& what);

  int fd_ = -1;
  std::uint32_t nextCallId_ = 1;
  std::uint16_t nextContext_ = 1;
  std::uint16_t maxXmit_ = kDefaultFragment;
  std::uint32_t assocGroup_ = 0;
  std::optional<ntlm::ClientHandshake> handshake_;
  CallSecurity security_;
};

}  // namespace tagwell::dcom

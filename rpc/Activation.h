// COM activation of out-of-process servers over Cap'n Proto RPC: what
// CoCreateInstanceEx does for CLSCTX_LOCAL_SERVER and CLSCTX_REMOTE_SERVER.
//
// Local: the class's registration (platform/registry) names the unix socket
// its server listens on and the command that starts it. Activation connects
// there; when nothing listens it starts the server detached and retries for
// a bounded time. Every creation opens its own connection and gets its own
// server object; the server process is shared by all of them.
// Remote: the computer name is "host" or "host:port" (port 4135 by default);
// the tagwell-server listening there creates the object. The connection is
// TLS: this computer shows its own certificate (made at first use), and
// trusts a server's the way ssh does: the first time it is asked through
// the OperatorPrompt and remembered in known-servers (rpc/Trust.h); a
// certificate that differs from the one remembered is refused.
//
// Proxies follow the thread rules of rpc/Apartment.h.
#pragma once

#include <atomic>
#include <chrono>
#include <string>

#include "platform/com/Runtime.h"

namespace tagwell::rpc {

inline constexpr unsigned kDefaultRemotePort = 4135;

struct ActivationOptions {
  // How long one call may take before it fails with RPC_E_TIMEOUT; also the
  // bound for reaching a remote computer.
  std::chrono::milliseconds callTimeout = std::chrono::seconds(10);
  // How long a local server may take from its start until it listens.
  std::chrono::milliseconds startTimeout = std::chrono::seconds(10);
};

// How activation asks the operator about a remote server's certificate.
// Called on the thread that creates the object, which waits for the answer
// (the call deadline does not run meanwhile).
class OperatorPrompt {
 public:
  virtual ~OperatorPrompt() = default;
  // A Yes/No question; true for Yes.
  virtual bool Ask(const std::string& text) = 0;
  // Why a connection was refused, for the operator to act on.
  virtual void Tell(const std::string& text) = 0;
  // One line on why a connection was refused, for the client's log: told
  // for every refusal, also the operator's own No and those no box shows.
  // Called on any thread.
  virtual void Refused(const std::string& line) { (void)line; }
};

class RpcActivator final : public com::ServerActivator {
 public:
  explicit RpcActivator(ActivationOptions options = {}) : options_(options) {}

  // Without a prompt, a server seen for the first time is refused (and
  // logged). The prompt must outlive its use; nullptr removes it.
  void SetPrompt(OperatorPrompt* prompt) { prompt_ = prompt; }

  // Failures: REGDB_E_CLASSNOTREG for a class without a usable registration,
  // CO_E_SERVER_EXEC_FAILURE when its server cannot be started or does not
  // listen in time, E_ACCESSDENIED when its socket folder is not private,
  // RPC_S_SERVER_UNAVAILABLE when a remote computer cannot be reached, and
  // what the server answers (E_NOINTERFACE when none of the interfaces asked
  // for is there). Thread-safe.
  com::HRESULT Activate(com::REFCLSID clsid, const std::u16string& host, com::DWORD count,
                        com::MULTI_QI* results) override;

 private:
  ActivationOptions options_;
  std::atomic<OperatorPrompt*> prompt_{nullptr};
};

// Installs an RpcActivator as the process's activator for its lifetime and
// puts the one installed before back afterwards. main() and tests:
//   tagwell::rpc::ScopedServerActivator activation;
class ScopedServerActivator final {
 public:
  explicit ScopedServerActivator(ActivationOptions options = {});
  ~ScopedServerActivator();
  ScopedServerActivator(const ScopedServerActivator&) = delete;
  ScopedServerActivator& operator=(const ScopedServerActivator&) = delete;

  void SetPrompt(OperatorPrompt* prompt) { activator_.SetPrompt(prompt); }

 private:
  RpcActivator activator_;
  com::ServerActivator* previous_;
};

}  // namespace tagwell::rpc

#include "rpc/Activation.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <thread>

#include "platform/com/CallWait.h"
#include "platform/com/Text.h"
#include "platform/registry/Registry.h"
#include "rpc/Diagnostics.h"
#include "rpc/Endpoint.h"
#include "rpc/Launch.h"
#include "rpc/Proxy.h"
#include "rpc/Tls.h"
#include "rpc/Trust.h"

namespace tagwell::rpc {

using namespace com;

namespace {

using Clock = std::chrono::steady_clock;

// How often a starting server is tried, and how many times it is started
// when it goes away before it listens (another server of the class may have
// been on its way out).
constexpr auto kRetryInterval = std::chrono::milliseconds(20);
constexpr int kMaxStarts = 3;

constexpr const char* kWho = "tagwell activation";

// Starts the server of one registration when needed, within the start
// timeout.
class Starter final {
 public:
  Starter(const registry::ServerEntry& entry, std::chrono::milliseconds timeout)
      : entry_(entry), deadline_(Clock::now() + timeout) {}

  bool Expired() const { return Clock::now() >= deadline_; }

  // Makes sure a started server is on its way; CO_E_SERVER_EXEC_FAILURE when
  // it cannot be started (again).
  HRESULT EnsureStarted() {
    if (pid_ > 0 && ProcessRuns(pid_)) return S_OK;
    if (entry_.localServer.empty()) {
      Diagnose(kWho, "%s: nothing listens and the registration names no LocalServer",
               entry_.progId.c_str());
      return CO_E_SERVER_EXEC_FAILURE;
    }
    if (starts_ == kMaxStarts) {
      Diagnose(kWho, "%s: the server exited before it listened", entry_.progId.c_str());
      return CO_E_SERVER_EXEC_FAILURE;
    }
    ++starts_;
    std::string error;
    pid_ = StartDetached(registry::SplitCommandLine(entry_.localServer), entry_.folder, &error);
    if (pid_ < 0) {
      Diagnose(kWho, "%s: %s", entry_.progId.c_str(), error.c_str());
      return CO_E_SERVER_EXEC_FAILURE;
    }
    return S_OK;
  }

 private:
  const registry::ServerEntry& entry_;
  Clock::time_point deadline_;
  pid_t pid_ = -1;
  int starts_ = 0;
};

HRESULT ActivateLocal(const CLSID& clsid, const ActivationOptions& options,
                      ComPtr<IUnknown>* object) {
  auto entry = registry::InstalledServers().FindByClsid(clsid);
  if (!entry) return REGDB_E_CLASSNOTREG;
  std::string path;
  if (!ParseUnixEndpoint(entry->endpoint, &path)) {
    Diagnose(kWho, "%s: the registration %s names no unix: Endpoint", entry->progId.c_str(),
             entry->file.c_str());
    return REGDB_E_CLASSNOTREG;
  }
  std::string error;
  if (!EnsurePrivateFolder(FolderOf(path), &error)) {
    Diagnose(kWho, "%s: refusing the endpoint folder: %s", entry->progId.c_str(), error.c_str());
    return E_ACCESSDENIED;
  }
  Starter starter(*entry, options.startTimeout);
  for (;;) {
    int fd = ConnectUnix(path);
    if (fd >= 0) {
      HRESULT hr = CreateObjectOverFd(fd, clsid, options.callTimeout, object);
      // A server that was on its way out when we connected: go again.
      if (hr != RPC_E_DISCONNECTED || starter.Expired()) return hr;
      continue;
    }
    int reason = errno;
    if (reason != ENOENT && reason != ECONNREFUSED && reason != EAGAIN) {
      Diagnose(kWho, "%s: cannot connect to %s: %s", entry->progId.c_str(), path.c_str(),
               std::strerror(reason));
      return CO_E_SERVER_EXEC_FAILURE;
    }
    if (reason != EAGAIN) {
      HRESULT hr = starter.EnsureStarted();
      if (FAILED(hr)) return hr;
    }
    if (starter.Expired()) {
      Diagnose(kWho, "%s: the server does not listen on %s", entry->progId.c_str(), path.c_str());
      return CO_E_SERVER_EXEC_FAILURE;
    }
    std::this_thread::sleep_for(kRetryInterval);
  }
}

// How known-servers names the computer: "host:port", the host in lower
// case, an IPv6 address in brackets.
std::string ComputerKey(const std::string& host, std::uint16_t port) {
  std::string key;
  for (char c : host) key += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (key.find(':') != std::string::npos) key = "[" + key + "]";
  return key + ":" + std::to_string(port);
}

// A refusal: logged here and told to the prompt's log.
void Refuse(OperatorPrompt* prompt, const std::string& line) {
  Diagnose(kWho, "%s", line.c_str());
  if (prompt) prompt->Refused(line);
}

// Whether to go on with the server at computer that showed fingerprint:
// the one remembered, or a first one the operator trusts. S_OK or
// E_ACCESSDENIED.
HRESULT TrustServer(const std::string& computer, const std::string& fingerprint,
                    OperatorPrompt* prompt) {
  const std::string path = KnownServersPath();
  std::string problem;
  auto known = KnownServerFingerprint(path, computer, &problem);
  if (known && *known == fingerprint) return S_OK;
  if (!problem.empty()) {
    // Not "unknown": asking again as at first contact would undo the pin.
    Refuse(prompt, computer + ": refused: " + problem);
    if (prompt)
      prompt->Tell("The server at " + computer + " cannot be checked: " + problem +
                   ".\n\nThe connection is refused. Correct or remove that line and connect "
                   "again.");
    return E_ACCESSDENIED;
  }
  if (known) {
    Refuse(prompt, computer + ": refused: its certificate " + fingerprint +
                       " is not the one remembered in " + path + " (" + *known + ")");
    if (prompt)
      prompt->Tell("The certificate of the server at " + computer +
                   " has changed.\n\nRemembered: " + *known + "\nShown now: " + fingerprint +
                   "\n\nThe connection is refused: another computer may pretend to be that "
                   "server. If the server was given a new key on purpose, remove the line of " +
                   computer + " from " + path + " and connect again.");
    return E_ACCESSDENIED;
  }
  if (!prompt || !prompt->Ask("The server at " + computer +
                              " is not known on this computer yet.\n\nThe SHA-256 fingerprint of "
                              "its certificate is\n" +
                              fingerprint +
                              "\n\nCompare it with what \"tagwell-server --fingerprint\" prints "
                              "on that computer. Trust this server and connect?")) {
    Refuse(prompt, computer + ": not connected: its certificate " + fingerprint +
                       " is not trusted" +
                       (prompt ? " (the operator said No)" : " (nobody to ask)"));
    return E_ACCESSDENIED;
  }
  std::string error;
  if (AddKnownServer(path, computer, fingerprint, &error))
    Diagnose(kWho, "%s: trusted its certificate %s (added to %s)", computer.c_str(),
             fingerprint.c_str(), path.c_str());
  else
    Diagnose(kWho, "%s: trusted for now, but %s", computer.c_str(), error.c_str());
  return S_OK;
}

// TLS to computer over connected, within left: the stream, or nullptr with
// the HRESULT in *hr.
kj::Own<TlsStream> StartTls(Apartment& apartment, kj::Own<kj::AsyncIoStream> connected,
                            const std::string& computer, std::chrono::milliseconds left,
                            OperatorPrompt* prompt, HRESULT* hr) {
  std::string error;
  bool created = false;
  const std::string path = ClientIdentityPath();
  auto identity = TlsIdentity::LoadOrCreate(path, &error, &created);
  auto context = identity ? TlsContext::Make(TlsContext::Role::Client, identity, &error) : nullptr;
  *hr = E_ACCESSDENIED;
  if (!context) {
    Refuse(prompt, "no certificate for this computer: " + error);
    if (prompt) prompt->Tell("This computer's certificate cannot be used:\n" + error);
    return {};
  }
  if (created)
    Diagnose(kWho, "made this computer's certificate %s in %s", identity->fingerprint().c_str(),
             path.c_str());
  kj::Maybe<kj::Own<TlsStream>> tls;
  // The server's certificate, seen before the server judges this one's.
  auto seen = std::make_shared<std::string>();
  try {
    tls = WaitWithin(apartment,
                     context->Handshake(kj::mv(connected),
                                        [seen](const std::string& print) {
                                          *seen = print;
                                          return true;
                                        }),
                     left);
  } catch (const kj::Exception& failure) {
    std::string reason = failure.getDescription().cStr();
    if (reason.rfind(kRefusedByServer, 0) != 0) {
      Diagnose(kWho, "%s: TLS failed: %s", computer.c_str(), reason.c_str());
      *hr = RPC_S_SERVER_UNAVAILABLE;
      return {};
    }
    // Who refused counts first: an impostor's word that this computer is
    // not let in is worth nothing, and a first contact is asked about.
    if (seen->empty() || FAILED(TrustServer(computer, *seen, prompt))) return {};
    const std::string& print = identity->fingerprint();
    Refuse(prompt, computer + ": refused by the server: this computer's certificate " + print +
                       " is not authorized there");
    if (prompt)
      prompt->Tell("The server at " + computer +
                   " does not let this computer in.\n\nThis computer's certificate is\n" + print +
                   "\n\nOn the server, an operator lets it in with\n  tagwell-server --authorize " +
                   print + " NAME\n(with --read-only for a client that may only read).");
    return {};
  }
  KJ_IF_MAYBE (stream, tls) {
    *hr = S_OK;
    return kj::mv(*stream);
  }
  Diagnose(kWho, "%s: no TLS handshake in time", computer.c_str());
  *hr = RPC_S_SERVER_UNAVAILABLE;
  return {};
}

// A TCP connection to one of the addresses, within the deadline.
kj::Maybe<kj::Own<kj::AsyncIoStream>> ConnectTcp(Apartment& apartment,
                                                 const std::vector<SocketAddress>& addresses,
                                                 Clock::time_point deadline) {
  for (const auto& address : addresses) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) break;
    auto target = apartment.provider().getNetwork().getSockaddr(&address.storage, address.length);
    auto connect = target->connect().attach(kj::mv(target));
    try {
      auto stream = WaitWithin(apartment, kj::mv(connect), left);
      if (stream != nullptr) return stream;
    } catch (const kj::Exception&) {
      // refused there: try the computer's next address
    }
  }
  return nullptr;
}

HRESULT ActivateRemote(const CLSID& clsid, const std::u16string& computer,
                       const ActivationOptions& options, OperatorPrompt* prompt,
                       ComPtr<IUnknown>* object) {
  std::string name = Utf16ToUtf8(computer);
  // Windows users may write the computer the UNC way.
  while (!name.empty() && name.front() == '\\') name.erase(0, 1);
  std::string host;
  std::uint16_t port = 0;
  if (!SplitHostPort(name, kDefaultRemotePort, &host, &port)) {
    Diagnose(kWho, "\"%s\" is not a computer name", name.c_str());
    return RPC_S_SERVER_UNAVAILABLE;
  }
  auto deadline = Clock::now() + options.callTimeout;
  auto addresses = ResolveTcp(host, port, options.callTimeout);
  if (addresses.empty()) {
    Diagnose(kWho, "cannot find the computer %s", host.c_str());
    return RPC_S_SERVER_UNAVAILABLE;
  }
  const std::string key = ComputerKey(host, port);
  try {
    auto apartment = Apartment::ForThisThread();
    auto stream = ConnectTcp(*apartment, addresses, deadline);
    KJ_IF_MAYBE (connected, stream) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      HRESULT hr = S_OK;
      auto tls = StartTls(*apartment, kj::mv(*connected), key, left, prompt, &hr);
      if (!tls) return hr;
      hr = TrustServer(key, tls->peerFingerprint(), prompt);
      if (FAILED(hr)) return hr;
      return CreateObject(apartment, kj::mv(tls), clsid, options.callTimeout, object);
    }
  } catch (...) {
    return RPC_S_SERVER_UNAVAILABLE;
  }
  Diagnose(kWho, "cannot reach %s port %u", host.c_str(), static_cast<unsigned>(port));
  return RPC_S_SERVER_UNAVAILABLE;
}

}  // namespace

HRESULT RpcActivator::Activate(REFCLSID clsid, const std::u16string& host, DWORD count,
                               MULTI_QI* results) {
  if (count == 0 || !results) return E_INVALIDARG;
  if (InCallWaitPump()) return RPC_E_CANTCALLOUT_ININPUTSYNCCALL;
  for (DWORD i = 0; i < count; ++i) {
    results[i].pItf = nullptr;
    results[i].hr = E_NOINTERFACE;
  }
  ComPtr<IUnknown> object;
  HRESULT hr = host.empty() ? ActivateLocal(clsid, options_, &object)
                            : ActivateRemote(clsid, host, options_, prompt_.load(), &object);
  if (FAILED(hr)) {
    for (DWORD i = 0; i < count; ++i) results[i].hr = hr;
    return hr;
  }
  DWORD answered = 0;
  for (DWORD i = 0; i < count; ++i) {
    if (!results[i].pIID) continue;
    results[i].hr =
        object->QueryInterface(*results[i].pIID, reinterpret_cast<void**>(&results[i].pItf));
    if (SUCCEEDED(results[i].hr)) ++answered;
  }
  if (answered == count) return S_OK;
  return answered == 0 ? E_NOINTERFACE : CO_S_NOTALLINTERFACES;
}

ScopedServerActivator::ScopedServerActivator(ActivationOptions options)
    : activator_(options), previous_(GetServerActivator()) {
  SetServerActivator(&activator_);
}

ScopedServerActivator::~ScopedServerActivator() {
  SetServerActivator(previous_);
}

}  // namespace tagwell::rpc

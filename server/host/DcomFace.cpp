#include "server/host/DcomFace.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <termios.h>
#include <unistd.h>

#include <charconv>
#include <condition_variable>
#include <cstdio>
#include <iostream>
#include <thread>

#include "dcom/rpc/Accounts.h"
#include "dcom/rpc/Server.h"
#include "platform/com/Text.h"
#include "rpc/Diagnostics.h"

namespace tagwell::host {

namespace {

constexpr const char* kWho = "tagwell-server";

bool ParsePort(const std::string& text, std::uint16_t* port) {
  unsigned long value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value == 0 || value > 65535)
    return false;
  *port = static_cast<std::uint16_t>(value);
  return true;
}

bool IsIpv4(const std::string& text) {
  in_addr parsed{};
  return inet_pton(AF_INET, text.c_str(), &parsed) == 1;
}

std::u16string Binding(const std::string& address, std::uint16_t port) {
  return com::Utf8ToUtf16(address + "[" + std::to_string(port) + "]");
}

std::string ReadSecret(const char* prompt, bool terminal) {
  termios saved{};
  if (terminal) {
    std::fprintf(stderr, "%s", prompt);
    tcgetattr(STDIN_FILENO, &saved);
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
  }
  std::string line;
  std::getline(std::cin, line);
  if (terminal) {
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    std::fprintf(stderr, "\n");
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

}  // namespace

bool ParseDcomListen(const std::string& text, HostOptions* options) {
  std::string address = "0.0.0.0";
  std::uint16_t port = 135;
  auto colon = text.rfind(':');
  if (colon != std::string::npos) {
    if (colon > 0) address = text.substr(0, colon);
    if (!ParsePort(text.substr(colon + 1), &port)) return false;
  } else if (!text.empty() && text.find_first_not_of("0123456789") == std::string::npos) {
    if (!ParsePort(text, &port)) return false;
  } else if (!text.empty()) {
    address = text;
  }
  if (!IsIpv4(address)) return false;
  options->dcomAddress = address;
  options->dcomPort = port;
  return true;
}

dcom::Bindings DcomBindings(const std::string& address, std::uint16_t port) {
  dcom::Bindings bindings;
  bindings.security = {{dcom::kAuthnWinNt, u""}};
  if (address != "0.0.0.0") {
    bindings.tcp = {Binding(address, port)};
    return bindings;
  }
  char host[256] = {};
  if (gethostname(host, sizeof host - 1) == 0 && host[0])
    bindings.tcp.push_back(Binding(host, port));
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) == 0) {
    for (ifaddrs* i = list; i; i = i->ifa_next) {
      if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET || !(i->ifa_flags & IFF_UP) ||
          (i->ifa_flags & IFF_LOOPBACK))
        continue;
      char text[INET_ADDRSTRLEN] = {};
      inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(i->ifa_addr)->sin_addr, text, sizeof text);
      bindings.tcp.push_back(Binding(text, port));
    }
    freeifaddrs(list);
  }
  bindings.tcp.push_back(Binding("127.0.0.1", port));
  return bindings;
}

// The runtime, the transport's server, and a sweeper that collects the
// objects of clients that stopped pinging even when no call comes in.
struct DcomFace::State {
  std::unique_ptr<dcom::Runtime> runtime;
  std::unique_ptr<dcom::Server> server;
  std::mutex mutex;
  std::condition_variable wake;
  bool stopping = false;
  std::thread sweeper;
};

DcomFace::DcomFace() : state_(std::make_unique<State>()) {}

DcomFace::~DcomFace() {
  if (state_->server) state_->server->Stop();
  {
    std::lock_guard lock(state_->mutex);
    state_->stopping = true;
  }
  state_->wake.notify_all();
  if (state_->sweeper.joinable()) state_->sweeper.join();
}

bool DcomFace::Start(const HostOptions& options, std::vector<dcom::ServedClass> classes,
                     std::string* error) {
  const std::string address = options.dcomAddress.value_or("0.0.0.0");
  dcom::ServerOptions serverOptions;
  serverOptions.address = address;
  serverOptions.port = options.dcomPort;
  serverOptions.who = kWho;
  serverOptions.log = [](const std::string& line) { rpc::Diagnose(kWho, "%s", line.c_str()); };
  dcom::RuntimeOptions runtimeOptions;
  runtimeOptions.bindings = DcomBindings(address, options.dcomPort);
  state_->runtime = std::make_unique<dcom::Runtime>(runtimeOptions, std::move(classes));
  state_->server = std::make_unique<dcom::Server>(*state_->runtime, serverOptions);
  if (!state_->server->Start(error)) {
    if (options.dcomPort < 1024 && error->find("Permission denied") != std::string::npos)
      *error += " (binding port " + std::to_string(options.dcomPort) +
                " needs root or the capability CAP_NET_BIND_SERVICE)";
    state_->server.reset();
    return false;
  }
  state_->sweeper = std::thread([state = state_.get()] {
    std::unique_lock lock(state->mutex);
    while (
        !state->wake.wait_for(lock, std::chrono::seconds(30), [state] { return state->stopping; }))
      state->runtime->Collect();
  });
  rpc::Diagnose(kWho, "serving DCOM clients on %s port %u", address.c_str(),
                static_cast<unsigned>(state_->server->port()));
  return true;
}

int AddDcomAccountFromTerminal(const HostOptions& options) {
  const bool terminal = isatty(STDIN_FILENO);
  std::string password =
      ReadSecret(("Password for " + options.dcomAccountName + ": ").c_str(), terminal);
  if (terminal && ReadSecret("Again: ", true) != password) {
    std::fprintf(stderr, "tagwell-server: the passwords differ; nothing was stored\n");
    return 1;
  }
  if (password.empty()) {
    std::fprintf(stderr, "tagwell-server: an account needs a password; nothing was stored\n");
    return 1;
  }
  std::string error;
  const std::string path = dcom::DcomAccountsPath();
  if (!dcom::AddDcomAccount(path, options.dcomAccountName, password, options.readOnly, &error)) {
    std::fprintf(stderr, "tagwell-server: %s\n", error.c_str());
    return 1;
  }
  std::printf("tagwell-server: %s may now %s over DCOM (%s)\n", options.dcomAccountName.c_str(),
              options.readOnly ? "read" : "read and write", path.c_str());
  return 0;
}

}  // namespace tagwell::host

#include "server/host/HostOptions.h"

#include <charconv>

#include "dcom/rpc/Accounts.h"
#include "rpc/Activation.h"
#include "rpc/Endpoint.h"
#include "rpc/Trust.h"
#include "server/host/DcomFace.h"

namespace tagwell::host {

namespace {

bool ParseNumber(const std::string& text, unsigned long max, unsigned long* value) {
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), *value);
  return error == std::errc() && end == text.data() + text.size() && *value <= max;
}

// "[ADDR:]PORT": a bare port listens on loopback.
bool ParseListen(const std::string& text, HostOptions* options) {
  std::string address = "127.0.0.1";
  std::string port = text;
  if (auto colon = text.rfind(':'); colon != std::string::npos) {
    address = text.substr(0, colon);
    port = text.substr(colon + 1);
    if (address.size() > 2 && address.front() == '[' && address.back() == ']')
      address = address.substr(1, address.size() - 2);
    if (address.empty()) return false;
  }
  unsigned long number = 0;
  if (!ParseNumber(port, 65535, &number)) return false;
  options->tcpAddress = address;
  options->tcpPort = static_cast<std::uint16_t>(number);
  return true;
}

}  // namespace

std::optional<HostOptions> ParseHostOptions(const std::vector<std::string>& arguments,
                                            std::string* error) {
  HostOptions options;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    auto value = [&](std::string* out) {
      if (i + 1 >= arguments.size()) {
        *error = argument + " needs a value";
        return false;
      }
      *out = arguments[++i];
      return true;
    };
    std::string text;
    if (argument == "--help" || argument == "-h") {
      options.help = true;
    } else if (argument == "--embedding" || argument == "-Embedding") {
      options.embedding = true;
    } else if (argument == "--flat") {
      options.flat = true;
    } else if (argument == "--endpoint") {
      if (!value(&text)) return std::nullopt;
      if (!rpc::ParseUnixEndpoint(text, &options.endpointPath)) options.endpointPath = text;
      if (options.endpointPath.empty() || options.endpointPath.front() != '/') {
        *error = "--endpoint needs an absolute socket path (unix:/PATH)";
        return std::nullopt;
      }
    } else if (argument == "--listen") {
      if (!value(&text)) return std::nullopt;
      if (!ParseListen(text, &options)) {
        *error = "--listen needs [ADDRESS:]PORT, not \"" + text + "\"";
        return std::nullopt;
      }
    } else if (argument == "--allow-any-client") {
      options.allowAnyClient = true;
    } else if (argument == "--fingerprint") {
      options.printFingerprint = true;
    } else if (argument == "--read-only") {
      options.readOnly = true;
    } else if (argument == "--authorize") {
      if (!value(&text) || !value(&options.authorizeName)) return std::nullopt;
      auto fingerprint = rpc::NormalizeFingerprint(text);
      if (!fingerprint) {
        *error = "--authorize needs a SHA-256 fingerprint, not \"" + text + "\"";
        return std::nullopt;
      }
      if (options.authorizeName.find_first_not_of(" \t") == std::string::npos ||
          options.authorizeName.find('\n') != std::string::npos) {
        *error = "--authorize needs a name for the client";
        return std::nullopt;
      }
      options.authorize = true;
      options.authorizeFingerprint = *fingerprint;
    } else if (argument == "--dcom") {
      // The address is optional: a following option is not it.
      text = i + 1 < arguments.size() && arguments[i + 1].rfind("--", 0) != 0 ? arguments[++i] : "";
      if (!ParseDcomListen(text, &options)) {
        *error = "--dcom needs [ADDRESS][:PORT] with an IPv4 address, not \"" + text + "\"";
        return std::nullopt;
      }
    } else if (argument == "--add-dcom-account") {
      if (!value(&options.dcomAccountName)) return std::nullopt;
      if (!dcom::SplitAccountName(options.dcomAccountName)) {
        *error = "--add-dcom-account needs DOMAIN\\USER, not \"" + options.dcomAccountName + "\"";
        return std::nullopt;
      }
      options.addDcomAccount = true;
    } else if (argument == "--class") {
      if (!value(&options.serverClass)) return std::nullopt;
    } else if (argument == "--address-space") {
      if (!value(&options.addressSpaceFile)) return std::nullopt;
    } else if (argument == "--idle-exit") {
      unsigned long seconds = 0;
      if (!value(&text)) return std::nullopt;
      if (!ParseNumber(text, 86400, &seconds)) {
        *error = "--idle-exit needs a number of seconds, not \"" + text + "\"";
        return std::nullopt;
      }
      options.idleExit = std::chrono::seconds(seconds);
    } else {
      *error = "unknown argument \"" + argument + "\"";
      return std::nullopt;
    }
  }
  if (options.readOnly && !options.authorize && !options.addDcomAccount) {
    *error = "--read-only goes with --authorize or --add-dcom-account";
    return std::nullopt;
  }
  return options;
}

std::string HostUsage() {
  char port[16];
  std::snprintf(port, sizeof port, "%u", rpc::kDefaultRemotePort);
  return std::string(
             "Usage: tagwell-server [OPTIONS]\n"
             "Serves the simulation OPC DA server \"Tagwell.Simulation.1\" (or the class of\n"
             "another registration file) to Tagwell clients.\n"
             "\n"
             "  --class PROGID|{CLSID}  serve this class instead: its registration file gives\n"
             "                          the CLSID and the endpoint\n"
             "  --endpoint unix:PATH    listen on this unix socket (default: the Endpoint of\n"
             "                          the class's registration file)\n"
             "  --listen [ADDR:]PORT    also serve remote clients over TCP, on loopback unless\n"
             "                          ADDR is given (clients name this computer \"host:PORT\";\n"
             "                          their default port is ") +
         port +
         ")\n"
         "                          encrypted (TLS); only the clients in the\n"
         "                          authorized-clients file get in\n"
         "  --allow-any-client      let every remote client in, with the right to write\n"
         "  --fingerprint           print the SHA-256 fingerprint of this server's\n"
         "                          certificate and exit\n"
         "  --authorize FINGERPRINT NAME [--read-only]\n"
         "                          let the client with this certificate in (to read\n"
         "                          only, with --read-only) and exit\n"
         "  --dcom [ADDR][:PORT]    also serve Windows OPC clients over DCOM, on all IPv4\n"
         "                          addresses and port 135 unless given; Windows looks\n"
         "                          for port 135; clients log in with an account of\n"
         "                          the dcom-accounts file, at packet integrity or above\n"
         "  --add-dcom-account DOMAIN\\USER [--read-only]\n"
         "                          ask for the account's password, store it (its NT\n"
         "                          hash) for DCOM logins (to read only, with\n"
         "                          --read-only) and exit\n"
         "  --address-space FILE    load the address space from this XML file, with its\n"
         "                          Modbus TCP devices (default: the built-in plant)\n"
         "  --flat                  present the address space flat, without branches\n"
         "  --embedding             started by activation: exit a few seconds after the\n"
         "                          last client has gone\n"
         "  --idle-exit SECONDS     with --embedding, how long to wait (default 5)\n"
         "  --help                  show this text\n"
         "\n"
         "Files: the key and certificate in ~/.config/tagwell-server/server.pem, the\n"
         "clients let in in ~/.config/tagwell-server/authorized-clients (one line per\n"
         "client: FINGERPRINT NAME read|readwrite), the DCOM accounts in\n"
         "~/.config/tagwell-server/dcom-accounts.\n"
         "Logs to stderr. SIGTERM or SIGINT stop the server and remove its socket.\n";
}

}  // namespace tagwell::host

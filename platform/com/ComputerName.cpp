#include "platform/com/ComputerName.h"

#include <cctype>

namespace com {
namespace {

std::string_view Trim(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
    text.remove_prefix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
    text.remove_suffix(1);
  return text;
}

bool StartsWithNoCase(std::string_view text, std::string_view head) {
  if (text.size() < head.size()) return false;
  for (std::size_t i = 0; i < head.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(text[i])) != head[i]) return false;
  return true;
}

bool ParsePort(std::string_view digits, std::uint16_t* port) {
  if (digits.empty() || digits.size() > 5) return false;
  unsigned value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  if (value == 0 || value > 65535) return false;
  *port = static_cast<std::uint16_t>(value);
  return true;
}

// A DNS or NetBIOS name, an IPv4 address, or an IPv6 address (hex digits,
// colons, dots, and a zone after '%').
bool ValidHost(std::string_view host) {
  if (host.empty() || host.size() > 255) return false;
  const bool v6 = host.find(':') != std::string_view::npos;
  for (char c : host) {
    const auto u = static_cast<unsigned char>(c);
    if (std::isalnum(u) || c == '.' || c == '-' || c == '_') continue;
    if (v6 && (c == ':' || c == '%')) continue;
    return false;
  }
  return host.front() != '-' && host.front() != '.';
}

bool Fail(std::string* error, std::string text) {
  if (error) *error = std::move(text);
  return false;
}

// Built piece by piece: GCC 12 at -O3 reports a false -Wrestrict for a
// string literal + std::string + literal (Release builds with -Werror).
std::string NotAComputerName(std::string_view host) {
  return std::string("\"").append(host).append("\" is not a computer name");
}

// "HOST" or "HOST[PORT]" (HOST may be a bare IPv6 address).
bool ParseDcom(std::string_view text, ComputerAddress* address, std::string* error) {
  address->protocol = RemoteProtocol::Dcom;
  address->port = kDcomResolverPort;
  std::string_view host = text;
  if (!text.empty() && text.back() == ']') {
    const std::size_t open = text.rfind('[');
    if (open == std::string_view::npos || open == 0)
      return Fail(error, "the resolver port is not written as HOST[PORT]");
    if (!ParsePort(text.substr(open + 1, text.size() - open - 2), &address->port))
      return Fail(error, "the resolver port in [] is not a number from 1 to 65535");
    host = text.substr(0, open);
  }
  if (!ValidHost(host)) return Fail(error, NotAComputerName(host));
  address->host = std::string(host);
  return true;
}

// "HOST", "HOST:PORT", "[V6]" or "[V6]:PORT" for tagwell-server.
bool ParseTagwell(std::string_view text, ComputerAddress* address, std::string* error) {
  address->protocol = RemoteProtocol::Tagwell;
  address->port = kTagwellRemotePort;
  std::string_view host = text;
  std::string_view port;
  if (!text.empty() && text.front() == '[') {
    const std::size_t close = text.find(']');
    if (close == std::string_view::npos) return Fail(error, "a '[' without its ']'");
    host = text.substr(1, close - 1);
    std::string_view rest = text.substr(close + 1);
    if (!rest.empty()) {
      if (rest.front() != ':') return Fail(error, "text after the IPv6 address");
      port = rest.substr(1);
      if (port.empty()) return Fail(error, "no port after ':'");
    }
  } else if (const std::size_t colon = text.find(':'); colon != std::string_view::npos) {
    if (text.find(':', colon + 1) == std::string_view::npos) {
      host = text.substr(0, colon);
      port = text.substr(colon + 1);
      if (port.empty()) return Fail(error, "no port after ':'");
    }
  }
  if (!port.empty() && !ParsePort(port, &address->port))
    return Fail(error, "the port is not a number from 1 to 65535");
  if (!ValidHost(host)) return Fail(error, NotAComputerName(host));
  address->host = std::string(host);
  return true;
}

// One colon followed by digits only, or "[...]:digits": the form by which
// tagwell-server has always been reached.
bool LooksLikeHostPort(std::string_view text) {
  if (!text.empty() && text.front() == '[') return text.find("]:") != std::string_view::npos;
  const std::size_t colon = text.find(':');
  return colon != std::string_view::npos && text.find(':', colon + 1) == std::string_view::npos;
}

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

}  // namespace

bool ParseComputerName(std::string_view text, ComputerAddress* address, std::string* error) {
  text = Trim(text);
  while (!text.empty() && text.front() == '\\') text.remove_prefix(1);
  if (text.empty()) return Fail(error, "no computer name");
  if (StartsWithNoCase(text, "tls:")) return ParseTagwell(text.substr(4), address, error);
  if (StartsWithNoCase(text, "ncacn_ip_tcp:")) return ParseDcom(text.substr(13), address, error);
  if (LooksLikeHostPort(text)) return ParseTagwell(text, address, error);
  return ParseDcom(text, address, error);
}

std::string CredentialKey(const ComputerAddress& address) {
  std::string key = Lower(address.host);
  // Appended piece by piece for the same GCC 12 report.
  if (address.port != kDcomResolverPort)
    key.append("[").append(std::to_string(address.port)).append("]");
  return key;
}

std::string DisplayName(const ComputerAddress& address) {
  if (address.protocol == RemoteProtocol::Dcom) {
    if (address.port == kDcomResolverPort) return address.host;
    return address.host + "[" + std::to_string(address.port) + "]";
  }
  const bool v6 = address.host.find(':') != std::string::npos;
  return (v6 ? "[" + address.host + "]" : address.host) + ":" + std::to_string(address.port);
}

}  // namespace com

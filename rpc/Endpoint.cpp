#include "rpc/Endpoint.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <future>
#include <thread>

namespace tagwell::rpc {

namespace {

constexpr int kSocketFlags = SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK;

bool UnixAddress(const std::string& path, sockaddr_un* address) {
  std::memset(address, 0, sizeof *address);
  address->sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof address->sun_path) {
    errno = ENAMETOOLONG;
    return false;
  }
  std::memcpy(address->sun_path, path.data(), path.size());
  return true;
}

// Closes fd keeping the errno of the failure that made us give it up.
int CloseFailed(int fd) {
  int saved = errno;
  ::close(fd);
  errno = saved;
  return -1;
}

bool MakeFolder(const std::string& folder) {
  if (::mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST) return true;
  if (errno != ENOENT) return false;
  std::string parent = FolderOf(folder);
  if (parent == folder || parent == ".") return false;
  return MakeFolder(parent) && (::mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST);
}

}  // namespace

bool ParseUnixEndpoint(const std::string& endpoint, std::string* path) {
  static constexpr std::string_view kPrefix = "unix:";
  if (endpoint.compare(0, kPrefix.size(), kPrefix) != 0 || endpoint.size() == kPrefix.size())
    return false;
  *path = endpoint.substr(kPrefix.size());
  return true;
}

std::string FolderOf(const std::string& path) {
  auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

bool EnsurePrivateFolder(const std::string& folder, std::string* error) {
  if (!MakeFolder(folder)) {
    *error = "cannot create " + folder + ": " + std::strerror(errno);
    return false;
  }
  struct stat info {};
  if (::lstat(folder.c_str(), &info) != 0) {
    *error = "cannot examine " + folder + ": " + std::strerror(errno);
    return false;
  }
  if (!S_ISDIR(info.st_mode)) {
    *error = folder + " is not a folder";
    return false;
  }
  if (info.st_uid != ::geteuid()) {
    *error = folder + " belongs to another user";
    return false;
  }
  if ((info.st_mode & 0777) != 0700) {
    char mode[16];
    std::snprintf(mode, sizeof mode, "%03o", static_cast<unsigned>(info.st_mode & 0777));
    *error = folder + " has mode " + mode + ", not 700";
    return false;
  }
  return true;
}

int ConnectUnix(const std::string& path) {
  sockaddr_un address;
  if (!UnixAddress(path, &address)) return -1;
  int fd = ::socket(AF_UNIX, kSocketFlags, 0);
  if (fd < 0) return -1;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
    return CloseFailed(fd);
  return fd;
}

int ListenUnix(const std::string& path) {
  sockaddr_un address;
  if (!UnixAddress(path, &address)) return -1;
  int fd = ::socket(AF_UNIX, kSocketFlags, 0);
  if (fd < 0) return -1;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(fd, SOMAXCONN) != 0)
    return CloseFailed(fd);
  return fd;
}

int ListenTcp(const std::string& address, std::uint16_t port, std::uint16_t* boundPort) {
  sockaddr_storage storage{};
  socklen_t length = 0;
  auto* v4 = reinterpret_cast<sockaddr_in*>(&storage);
  auto* v6 = reinterpret_cast<sockaddr_in6*>(&storage);
  std::string host = address;
  if (host.size() > 2 && host.front() == '[' && host.back() == ']')
    host = host.substr(1, host.size() - 2);
  if (::inet_pton(AF_INET, host.c_str(), &v4->sin_addr) == 1) {
    v4->sin_family = AF_INET;
    v4->sin_port = htons(port);
    length = sizeof *v4;
  } else if (::inet_pton(AF_INET6, host.c_str(), &v6->sin6_addr) == 1) {
    v6->sin6_family = AF_INET6;
    v6->sin6_port = htons(port);
    length = sizeof *v6;
  } else {
    errno = EINVAL;
    return -1;
  }
  int fd = ::socket(storage.ss_family, kSocketFlags, 0);
  if (fd < 0) return -1;
  int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&storage), length) != 0 ||
      ::listen(fd, SOMAXCONN) != 0)
    return CloseFailed(fd);
  if (boundPort) {
    sockaddr_storage bound{};
    socklen_t boundLength = sizeof bound;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &boundLength);
    *boundPort =
        ntohs(bound.ss_family == AF_INET ? reinterpret_cast<sockaddr_in*>(&bound)->sin_port
                                         : reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port);
  }
  return fd;
}

bool SplitHostPort(const std::string& text, std::uint16_t defaultPort, std::string* host,
                   std::uint16_t* port) {
  std::string portText;
  if (!text.empty() && text.front() == '[') {
    auto close = text.find(']');
    if (close == std::string::npos) return false;
    *host = text.substr(1, close - 1);
    if (close + 1 < text.size()) {
      if (text[close + 1] != ':') return false;
      portText = text.substr(close + 2);
    }
  } else if (auto colon = text.find(':');
             colon != std::string::npos && text.find(':', colon + 1) == std::string::npos) {
    *host = text.substr(0, colon);
    portText = text.substr(colon + 1);
  } else {
    *host = text;  // a name, or a bare IPv6 address
  }
  *port = defaultPort;
  if (host->empty()) return false;
  if (portText.empty()) return text.back() != ':';
  unsigned value = 0;
  auto [end, error] = std::from_chars(portText.data(), portText.data() + portText.size(), value);
  if (error != std::errc() || end != portText.data() + portText.size() || value == 0 ||
      value > 65535)
    return false;
  *port = static_cast<std::uint16_t>(value);
  return true;
}

std::vector<SocketAddress> ResolveTcp(const std::string& host, std::uint16_t port,
                                      std::chrono::milliseconds timeout) {
  // getaddrinfo cannot be interrupted: it runs on a thread of its own that
  // may outlive this call.
  auto lookup = std::make_shared<std::promise<std::vector<SocketAddress>>>();
  auto result = lookup->get_future();
  std::thread([lookup, host, port] {
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_ADDRCONFIG;
    addrinfo* found = nullptr;
    std::vector<SocketAddress> addresses;
    if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) == 0) {
      for (addrinfo* a = found; a; a = a->ai_next) {
        if (a->ai_addrlen > sizeof(sockaddr_storage)) continue;
        SocketAddress address{};
        std::memcpy(&address.storage, a->ai_addr, a->ai_addrlen);
        address.length = a->ai_addrlen;
        addresses.push_back(address);
      }
      ::freeaddrinfo(found);
    }
    lookup->set_value(std::move(addresses));
  }).detach();
  if (result.wait_for(timeout) != std::future_status::ready) return {};
  return result.get();
}

}  // namespace tagwell::rpc

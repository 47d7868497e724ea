// Where servers listen: unix sockets in private folders, and TCP. Plain
// POSIX helpers shared by activation, the server host and the tests. Every
// descriptor they return is close-on-exec and non-blocking.
#pragma once

#include <sys/socket.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace tagwell::rpc {

// The path of a "unix:PATH" endpoint; false for any other form.
bool ParseUnixEndpoint(const std::string& endpoint, std::string* path);

// The folder part of a path ("." when there is none).
std::string FolderOf(const std::string& path);

// Makes sure `folder` exists, belongs to this user and is mode 0700, so that
// no other user can reach a socket in it. Creates it (and missing parents)
// so; refuses a folder of another owner or with wider access. False with the
// reason in *error.
bool EnsurePrivateFolder(const std::string& folder, std::string* error);

// Connects to the unix socket at path. Returns the descriptor, or -1 with
// errno set: ENOENT or ECONNREFUSED when nothing listens there, EAGAIN when
// the listener's queue is full, ENAMETOOLONG for a path too long for a
// socket address.
int ConnectUnix(const std::string& path);

// Binds a listening unix socket at path (which must not exist). -1 and
// errno on failure.
int ListenUnix(const std::string& path);

// Binds a listening TCP socket at a numeric IPv4 or IPv6 address and port
// (0: any free port, given back in *boundPort). -1 and errno on failure
// (EINVAL for an address that is not numeric).
int ListenTcp(const std::string& address, std::uint16_t port, std::uint16_t* boundPort);

// Splits "host", "host:port", "[v6 address]:port" or a bare IPv6 address.
// The port is defaultPort when none is given; false for a bad port.
bool SplitHostPort(const std::string& text, std::uint16_t defaultPort, std::string* host,
                   std::uint16_t* port);

struct SocketAddress {
  sockaddr_storage storage;
  socklen_t length;
};

// The stream-socket addresses of host:port, looked up for at most `timeout`
// (a name lookup that takes longer goes on in the background and its result
// is dropped). Empty when the name is unknown or the time ran out.
std::vector<SocketAddress> ResolveTcp(const std::string& host, std::uint16_t port,
                                      std::chrono::milliseconds timeout);

}  // namespace tagwell::rpc

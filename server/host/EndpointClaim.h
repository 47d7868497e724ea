// Taking a unix-socket endpoint for one server process.
//
// A lock file beside the socket (PATH.lock, held with flock for the life of
// the process) makes the claim atomic: of two servers started at once for
// the same endpoint, one gets it and the other is told that one already
// listens. A socket file that nobody holds is stale (its server died) and is
// replaced. The lock file stays; removing it would reopen the race.
#pragma once

#include <string>

namespace tagwell::host {

class EndpointClaim final {
 public:
  EndpointClaim() = default;
  EndpointClaim(const EndpointClaim&) = delete;
  EndpointClaim& operator=(const EndpointClaim&) = delete;
  // Release() if still held.
  ~EndpointClaim();

  // Claims path and returns a listening socket on it (non-blocking,
  // close-on-exec; the caller owns it), or -1 with the reason in *error.
  // The folder is made private (mode 0700) first.
  int Claim(const std::string& path, std::string* error);
  // After a failed Claim: whether another server holds the endpoint (rather
  // than the endpoint being unusable).
  bool HeldByAnother() const { return heldByAnother_; }
  // Removes the socket file and gives the lock up. Call after the listening
  // socket is closed.
  void Release();

 private:
  std::string path_;
  int lockFd_ = -1;
  bool heldByAnother_ = false;
};

}  // namespace tagwell::host

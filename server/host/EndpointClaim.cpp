#include "server/host/EndpointClaim.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "rpc/Endpoint.h"

namespace tagwell::host {

EndpointClaim::~EndpointClaim() {
  Release();
}

int EndpointClaim::Claim(const std::string& path, std::string* error) {
  if (!rpc::EnsurePrivateFolder(rpc::FolderOf(path), error)) return -1;
  std::string lockPath = path + ".lock";
  int lock = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (lock < 0) {
    *error = "cannot open " + lockPath + ": " + std::strerror(errno);
    return -1;
  }
  if (::flock(lock, LOCK_EX | LOCK_NB) != 0) {
    heldByAnother_ = errno == EWOULDBLOCK;
    *error = errno == EWOULDBLOCK ? "another server already listens on unix:" + path
                                  : "cannot lock " + lockPath + ": " + std::strerror(errno);
    ::close(lock);
    return -1;
  }
  // A server that holds no lock (one of an older kind) still counts.
  int probe = rpc::ConnectUnix(path);
  if (probe >= 0) {
    ::close(probe);
    ::close(lock);
    heldByAnother_ = true;
    *error = "another server already listens on unix:" + path;
    return -1;
  }
  if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
    *error = "cannot replace the stale socket " + path + ": " + std::strerror(errno);
    ::close(lock);
    return -1;
  }
  int fd = rpc::ListenUnix(path);
  if (fd < 0) {
    *error = "cannot listen on unix:" + path + ": " + std::strerror(errno);
    ::close(lock);
    return -1;
  }
  path_ = path;
  lockFd_ = lock;
  return fd;
}

void EndpointClaim::Release() {
  if (lockFd_ < 0) return;
  ::unlink(path_.c_str());
  ::close(lockFd_);
  lockFd_ = -1;
}

}  // namespace tagwell::host

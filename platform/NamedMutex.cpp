#include "platform/NamedMutex.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>

TNamedMutexResult CreateNamedMutex(const std::string& name, int& handle) {
  handle = -1;
  sockaddr_un addr;
  std::memset(&addr, 0, sizeof addr);
  addr.sun_family = AF_UNIX;
  // A leading NUL puts the name in the abstract namespace; the name may not
  // contain NULs itself, or it would not be the name the caller asked for.
  if (name.empty() || name.size() > sizeof addr.sun_path - 1 || name.find('\0') != std::string::npos)
    return TNamedMutexResult::nmFailed;
  std::memcpy(addr.sun_path + 1, name.data(), name.size());
  // Close-on-exec: a started browser must not keep the name alive.
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return TNamedMutexResult::nmFailed;
  const socklen_t len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&addr), len) != 0) {
    const int err = errno;
    ::close(fd);
    if (err == EADDRINUSE) return TNamedMutexResult::nmAlreadyExists;
    if (err == EACCES || err == EPERM) return TNamedMutexResult::nmAccessDenied;
    return TNamedMutexResult::nmFailed;
  }
  handle = fd;
  return TNamedMutexResult::nmCreated;
}

void CloseNamedMutex(int handle) {
  if (handle >= 0) ::close(handle);
}

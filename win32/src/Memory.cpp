#include "Memory.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <mutex>

namespace vw32::detail {

// The kernel answers EFAULT for a page it cannot read, so one byte of each
// page goes through a pipe of the layer's own; nothing is touched in-process.
bool Readable(const void* data, size_t size) {
  static std::mutex lock;
  static int probe[2] = {-1, -1};
  std::lock_guard guard(lock);
  if (probe[0] < 0) {
    if (pipe(probe) != 0) return true;  // cannot tell: the call itself decides
    for (int fd : probe) fcntl(fd, F_SETFD, FD_CLOEXEC);
  }
  const uintptr_t page = uintptr_t(sysconf(_SC_PAGESIZE));
  const auto begin = reinterpret_cast<uintptr_t>(data);
  for (uintptr_t at = begin; at - begin < size; at = (at / page + 1) * page) {
    if (write(probe[1], reinterpret_cast<const void*>(at), 1) != 1) return errno != EFAULT;
    char byte;
    if (read(probe[0], &byte, 1) != 1) return true;
  }
  return true;
}

}  // namespace vw32::detail

#include "Memory.h"

#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <mutex>
#include <vector>

namespace vw32::detail {

namespace {

// The kernel answers EFAULT for a page it cannot read, so one byte of each
// page goes through a pipe of the layer's own; nothing is touched in-process.
// Used only where the process may not read its own memory through the kernel.
bool ReadableThroughPipe(const std::vector<iovec>& pages) {
  static std::mutex lock;
  static int probe[2] = {-1, -1};
  std::lock_guard guard(lock);
  if (probe[0] < 0) {
    if (pipe(probe) != 0) return true;  // cannot tell: the call itself decides
    for (int fd : probe) fcntl(fd, F_SETFD, FD_CLOEXEC);
  }
  for (const iovec& page : pages) {
    if (write(probe[1], page.iov_base, 1) != 1) return errno != EFAULT;
    char byte;
    if (read(probe[0], &byte, 1) != 1) return true;
  }
  return true;
}

}  // namespace

// One byte of each page is read through the kernel (process_vm_readv on this
// process), which answers EFAULT or a short count for a page it cannot read:
// one system call and no lock for the usual buffer of a page or two, since
// WriteFile asks this for every log line.
bool Readable(const void* data, size_t size) {
  const uintptr_t page = uintptr_t(sysconf(_SC_PAGESIZE));
  const auto begin = reinterpret_cast<uintptr_t>(data);
  std::vector<iovec> pages;
  for (uintptr_t at = begin; at - begin < size; at = (at / page + 1) * page)
    pages.push_back(iovec{reinterpret_cast<void*>(at), 1});
  std::vector<char> bytes(pages.size());
  for (size_t first = 0; first < pages.size(); first += IOV_MAX) {
    const size_t count = std::min<size_t>(IOV_MAX, pages.size() - first);
    iovec local{bytes.data() + first, count};
    const ssize_t got = process_vm_readv(getpid(), &local, 1, pages.data() + first, count, 0);
    if (got < 0 && errno != EFAULT) return ReadableThroughPipe(pages);
    if (got != ssize_t(count)) return false;
  }
  return true;
}

}  // namespace vw32::detail

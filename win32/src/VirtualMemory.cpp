// Page allocations: reserved address ranges whose pages are committed
// (read-write or other protection) or not, as VirtualAlloc hands them out.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <iterator>
#include <map>
#include <mutex>
#include <vector>

#include <windows.h>

#include "Errors.h"

using namespace vw32::detail;

namespace {

struct Region {
  size_t size;
  std::vector<DWORD> pages;  // protection of each page; 0 = reserved only
};

struct Regions {
  std::mutex mutex;
  std::map<uintptr_t, Region> byBase;
};
Regions& All() {
  static auto* regions = new Regions;
  return *regions;
}

size_t PageSize() {
  static const size_t size = size_t(sysconf(_SC_PAGESIZE));
  return size;
}

bool Protection(DWORD protect, int* prot) {
  switch (protect) {
    case PAGE_NOACCESS: *prot = PROT_NONE; return true;
    case PAGE_READONLY: *prot = PROT_READ; return true;
    case PAGE_READWRITE: *prot = PROT_READ | PROT_WRITE; return true;
    default: return false;
  }
}

// Under the lock: the region holding [address, address + size) and the
// range of its pages; nullptr when no single region holds it.
Region* Find(uintptr_t address, size_t size, uintptr_t* base, size_t* first, size_t* count) {
  auto& regions = All().byBase;
  auto it = regions.upper_bound(address);
  if (it == regions.begin()) return nullptr;
  --it;
  const uintptr_t start = address & ~(PageSize() - 1);
  const uintptr_t end = (address + size + PageSize() - 1) & ~(PageSize() - 1);
  if (end <= start || end > it->first + it->second.size) return nullptr;
  *base = it->first;
  *first = (start - it->first) / PageSize();
  *count = (end - start) / PageSize();
  return &it->second;
}

LPVOID Reserve(LPVOID address, SIZE_T size, DWORD type, DWORD protect, int prot) {
  const size_t rounded = (size + PageSize() - 1) & ~(PageSize() - 1);
  const int fixed = address ? MAP_FIXED_NOREPLACE : 0;
  void* mem = mmap(address, rounded, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | fixed, -1, 0);
  if (mem == MAP_FAILED) {
    SetLastError(address ? DWORD(ERROR_INVALID_ADDRESS) : DWORD(ERROR_NOT_ENOUGH_MEMORY));
    return nullptr;
  }
  const bool commit = type & MEM_COMMIT;
  if (commit) mprotect(mem, rounded, prot);
  std::lock_guard lock(All().mutex);
  All().byBase[reinterpret_cast<uintptr_t>(mem)] = {rounded, std::vector<DWORD>(rounded / PageSize(), commit ? protect : 0)};
  return mem;
}

}  // namespace

VW32_API LPVOID WINAPI VirtualAlloc(LPVOID lpAddress, SIZE_T dwSize, DWORD flAllocationType, DWORD flProtect) {
  int prot;
  if (dwSize == 0 || !Protection(flProtect, &prot) || !(flAllocationType & (MEM_COMMIT | MEM_RESERVE))) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (!lpAddress || (flAllocationType & MEM_RESERVE)) return Reserve(lpAddress, dwSize, flAllocationType, flProtect, prot);
  // Committing pages of a reserved range.
  std::lock_guard lock(All().mutex);
  uintptr_t base;
  size_t first, count;
  Region* region = Find(reinterpret_cast<uintptr_t>(lpAddress), dwSize, &base, &first, &count);
  if (!region) {
    SetLastError(ERROR_INVALID_ADDRESS);
    return nullptr;
  }
  void* start = reinterpret_cast<void*>(base + first * PageSize());
  mprotect(start, count * PageSize(), prot);
  std::fill_n(region->pages.begin() + ptrdiff_t(first), count, flProtect);
  return start;
}

VW32_API BOOL WINAPI VirtualFree(LPVOID lpAddress, SIZE_T dwSize, DWORD dwFreeType) {
  const auto address = reinterpret_cast<uintptr_t>(lpAddress);
  std::lock_guard lock(All().mutex);
  auto& regions = All().byBase;
  if (dwFreeType == MEM_RELEASE) {
    if (dwSize != 0) return Fail(ERROR_INVALID_PARAMETER);
    auto it = regions.find(address);
    if (it == regions.end()) return Fail(ERROR_INVALID_ADDRESS);
    munmap(lpAddress, it->second.size);
    regions.erase(it);
    return TRUE;
  }
  if (dwFreeType != MEM_DECOMMIT) return Fail(ERROR_INVALID_PARAMETER);
  uintptr_t base;
  size_t first, count;
  auto it = regions.upper_bound(address);
  const size_t size = dwSize ? dwSize : (it != regions.begin() ? std::prev(it)->first + std::prev(it)->second.size - address : 0);
  Region* region = Find(address, size, &base, &first, &count);
  if (!region) return Fail(ERROR_INVALID_ADDRESS);
  // Decommitted pages read as zero when committed again.
  void* start = reinterpret_cast<void*>(base + first * PageSize());
  madvise(start, count * PageSize(), MADV_DONTNEED);
  mprotect(start, count * PageSize(), PROT_NONE);
  std::fill_n(region->pages.begin() + ptrdiff_t(first), count, 0);
  return TRUE;
}

VW32_API BOOL WINAPI VirtualProtect(LPVOID lpAddress, SIZE_T dwSize, DWORD flNewProtect, PDWORD lpflOldProtect) {
  int prot;
  if (!Protection(flNewProtect, &prot)) return Fail(ERROR_INVALID_PARAMETER);
  if (!lpflOldProtect) return Fail(ERROR_NOACCESS);
  std::lock_guard lock(All().mutex);
  uintptr_t base;
  size_t first, count;
  Region* region = Find(reinterpret_cast<uintptr_t>(lpAddress), dwSize, &base, &first, &count);
  if (!region) return Fail(ERROR_INVALID_ADDRESS);
  for (size_t i = first; i < first + count; ++i) {
    if (region->pages[i] == 0) return Fail(ERROR_INVALID_ADDRESS);  // not committed
  }
  *lpflOldProtect = region->pages[first];
  if (mprotect(reinterpret_cast<void*>(base + first * PageSize()), count * PageSize(), prot) != 0) return FailErrno(errno);
  std::fill_n(region->pages.begin() + ptrdiff_t(first), count, flNewProtect);
  return TRUE;
}

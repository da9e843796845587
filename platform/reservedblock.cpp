#include "platform/reservedblock.h"

#include <sys/mman.h>
#include <unistd.h>

namespace {

size_t PageSize() { return static_cast<size_t>(sysconf(_SC_PAGESIZE)); }

size_t RoundUpToPage(size_t bytes) {
  const size_t page = PageSize();
  return (bytes + page - 1) / page * page;
}

}  // namespace

ReservedBlock::~ReservedBlock() {
  if (base_ != nullptr) munmap(base_, RoundUpToPage(limit_));
}

bool ReservedBlock::Reserve(size_t bytes, size_t limit) {
  if (base_ != nullptr || bytes == 0 || bytes > limit) return false;
  void* p = mmap(nullptr, RoundUpToPage(limit), PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (p == MAP_FAILED) return false;
  base_ = p;
  limit_ = limit;
  if (mprotect(base_, RoundUpToPage(bytes), PROT_READ | PROT_WRITE) != 0) return false;
  bytes_ = bytes;
  return true;
}

bool ReservedBlock::GrowTo(size_t bytes) {
  if (base_ == nullptr || bytes > limit_) return false;
  if (bytes <= bytes_) return true;
  if (mprotect(base_, RoundUpToPage(bytes), PROT_READ | PROT_WRITE) != 0) return false;
  bytes_ = bytes;
  return true;
}

size_t ThreeQuartersOfPhysicalMemory() {
  const long pages = sysconf(_SC_PHYS_PAGES);
  if (pages <= 0) return 0;
  return static_cast<size_t>(pages) / 4 * 3 * PageSize();
}

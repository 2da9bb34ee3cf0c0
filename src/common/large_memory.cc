#include "common/large_memory.h"

#include <cstdint>

#if __has_include(<sys/mman.h>)
#include <sys/mman.h>
#include <unistd.h>
#endif

void PreferLargePages(void* data, std::size_t size) {
#ifdef MADV_HUGEPAGE
  // Below one large page there is nothing to gain.
  constexpr std::size_t kLargePage = std::size_t{2} << 20;
  const long page_size = sysconf(_SC_PAGESIZE);
  if (size < kLargePage || page_size <= 0) return;
  // The advice applies to whole pages: those inside the range.
  const auto page = static_cast<std::uintptr_t>(page_size);
  const auto start = reinterpret_cast<std::uintptr_t>(data);
  const std::uintptr_t first = (start + page - 1) & ~(page - 1);
  const std::uintptr_t end = (start + size) & ~(page - 1);
  if (end <= first) return;
  // Advice that is declined changes nothing, so its outcome is not looked at.
  (void)madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
#else
  (void)data;
  (void)size;
#endif
}

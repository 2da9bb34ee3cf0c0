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
  const auto page_size = sysconf(_SC_PAGESIZE);
  if (size < kLargePage || page_size <= 0) return;
  // The advice applies to whole pages: those inside the range.
  const auto page = static_cast<std::size_t>(page_size);
  const std::size_t head =
      (page - reinterpret_cast<std::uintptr_t>(data) % page) % page;
  if (size < head + page) return;
  const std::size_t length = (size - head) / page * page;
  // Advice that is declined changes nothing, so its outcome is not looked at.
  (void)madvise(static_cast<char*>(data) + head, length, MADV_HUGEPAGE);
#else
  (void)data;
  (void)size;
#endif
}

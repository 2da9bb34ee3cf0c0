// Advice to the system on memory that a run fills and then walks at random.
#ifndef COMMON_LARGE_MEMORY_H_
#define COMMON_LARGE_MEMORY_H_

#include <cstddef>

// Asks the system to back the `size` bytes at `data` with large pages where
// it can, before they are first touched. The entry table and the sort's
// second buffer are filled once and then moved around at random; in small
// pages a large table costs a page fault every 4 KiB and a translation miss
// at nearly every move of the sort. Only advice: where the system has no
// such pages, or declines, nothing changes but speed.
void PreferLargePages(void* data, std::size_t size);

#endif  // COMMON_LARGE_MEMORY_H_

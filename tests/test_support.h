// Byte sources and sinks in memory, for tests and fuzz targets that feed the
// text layer without files.
#ifndef TESTS_TEST_SUPPORT_H_
#define TESTS_TEST_SUPPORT_H_

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>

#include "common/text_input.h"
#include "common/text_output.h"

// Hands out `data` in reads of at most `chunk` bytes; then the end of the
// data, or a read error if `fail_at_end` is set.
struct MemorySource {
  std::string_view data;
  std::size_t chunk = std::numeric_limits<std::size_t>::max();
  bool fail_at_end = false;
};

inline std::ptrdiff_t ReadFromMemory(void* source, char* buffer,
                                     std::size_t size) {
  auto* const memory = static_cast<MemorySource*>(source);
  if (memory->data.empty()) return memory->fail_at_end ? -1 : 0;
  const std::size_t count =
      std::min({size, memory->chunk, memory->data.size()});
  std::memcpy(buffer, memory->data.data(), count);
  memory->data.remove_prefix(count);
  return static_cast<std::ptrdiff_t>(count);
}

// Collects written bytes; a write that would take it past `capacity` fails.
// Notes the most bytes that one write handed over.
struct MemorySink {
  std::string bytes;
  std::size_t capacity = std::numeric_limits<std::size_t>::max();
  std::size_t largest_write = 0;
};

inline bool WriteToMemory(void* sink, const char* data, std::size_t size) {
  auto* const memory = static_cast<MemorySink*>(sink);
  memory->largest_write = std::max(memory->largest_write, size);
  if (size > memory->capacity - memory->bytes.size()) return false;
  memory->bytes.append(data, size);
  return true;
}

#endif  // TESTS_TEST_SUPPORT_H_

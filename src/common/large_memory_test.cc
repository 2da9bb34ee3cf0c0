// Tests of the large-page advice: it must reach the system, and only for
// the pages inside the range.
#include "common/large_memory.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

namespace {

// The flags of the mapping that holds `address`, from /proc/self/smaps, as
// " rd wr mr ... "; empty if the system does not tell.
std::string MappingFlags(const void* address) {
  const auto at = reinterpret_cast<std::uintptr_t>(address);
  std::ifstream smaps("/proc/self/smaps");
  std::string line;
  bool inside = false;
  while (std::getline(smaps, line)) {
    std::uintptr_t start = 0;
    std::uintptr_t end = 0;
    char dash = 0;
    std::istringstream range(line);
    if (range >> std::hex >> start >> dash >> end && dash == '-') {
      inside = start <= at && at < end;
    } else if (inside && line.rfind("VmFlags:", 0) == 0) {
      return line.substr(8) + " ";
    }
  }
  return "";
}

TEST(LargeMemoryTest, AdvisesTheWholePagesInsideTheRange) {
  if (!std::ifstream("/sys/kernel/mm/transparent_hugepage/enabled")) {
    GTEST_SKIP() << "this system has no large pages for a program to ask for";
  }
  constexpr std::size_t kSize = std::size_t{8} << 20;
  const auto buffer = std::make_unique_for_overwrite<char[]>(kSize);
  // The range starts one byte into the buffer: the page of its first byte
  // is only partly inside and stays as it was.
  PreferLargePages(buffer.get() + 1, kSize - 1);
  const char* const middle = buffer.get() + kSize / 2;
  EXPECT_NE(MappingFlags(middle).find(" hg "), std::string::npos)
      << MappingFlags(middle);
  EXPECT_EQ(MappingFlags(buffer.get()).find(" hg "), std::string::npos)
      << MappingFlags(buffer.get());
}

}  // namespace

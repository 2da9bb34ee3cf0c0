// Tests of the large-page advice: it reaches the system, for the pages
// inside the range only.
#include "common/large_memory.h"

#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

namespace {

// True if the mapping that holds `address` is advised into large pages: its
// VmFlags in /proc/self/smaps have "hg".
bool InLargePages(const void* address) {
  const auto at = reinterpret_cast<std::uintptr_t>(address);
  std::ifstream smaps("/proc/self/smaps");
  bool inside = false;
  for (std::string line; std::getline(smaps, line);) {
    std::uintptr_t start = 0;
    std::uintptr_t end = 0;
    if (std::sscanf(line.c_str(), "%" SCNxPTR "-%" SCNxPTR, &start, &end) ==
        2) {
      inside = start <= at && at < end;
    } else if (inside && line.rfind("VmFlags:", 0) == 0) {
      return (line + " ").find(" hg ") != std::string::npos;
    }
  }
  return false;
}

TEST(LargeMemoryTest, AdvisesTheWholePagesInsideTheRange) {
  if (!std::ifstream("/sys/kernel/mm/transparent_hugepage/enabled")) {
    GTEST_SKIP() << "this system has no large pages for a program to ask for";
  }
  // CTest names the emulator that runs the tests of a build for another
  // machine; a user-mode emulator drops the advice unseen.
  if (const char* const emulator = std::getenv("KOLVA_TEST_EMULATOR")) {
    GTEST_SKIP() << emulator << " passes no memory advice on to the system";
  }
  constexpr std::size_t kSize = std::size_t{8} << 20;
  const auto buffer = std::make_unique_for_overwrite<char[]>(kSize);
  // The range starts one byte into the buffer: the page of its first byte
  // is only partly inside and stays as it was.
  PreferLargePages(buffer.get() + 1, kSize - 1);
  EXPECT_TRUE(InLargePages(buffer.get() + kSize / 2));
  EXPECT_FALSE(InLargePages(buffer.get()));
}

}  // namespace

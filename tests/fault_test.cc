// Fault tests: run the built KOLVA on hostile and huge inputs and under
// address-space limits, and check its console bytes, its exit code, that it
// was not killed by a signal, and the files it leaves behind.
// Usage: kolva_fault_test [gtest flags] [runner...] path/to/KOLVA
//
// The suites named Big* write lists of tens of megabytes and take seconds;
// CTest runs them as a test of their own with the label "big".

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "gtest/gtest.h"
#include "run_support.h"

#if defined(__SANITIZE_ADDRESS__)
#define KOLVA_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KOLVA_ADDRESS_SANITIZER 1
#endif
#endif

namespace kolva_test {
namespace {

namespace fs = std::filesystem;
using std::string_literals::operator""s;

constexpr std::size_t kMegabyte = std::size_t{1} << 20;

class FaultTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(dir_.path().empty()); }
  RunResult Run(const std::vector<std::string>& args, rlim_t limit = 0) {
    RunOptions options;
    options.address_limit = limit;
    return RunIn(dir_.path(), args, options);
  }
  // True if nothing but `names` is left in the directory (no core file, no
  // stray result).
  bool HoldsOnly(std::vector<std::string> names) const {
    std::sort(names.begin(), names.end());
    return SortedNames(dir_.path()) == names;
  }
  TempDir dir_;
};

// A failure before the result file is written leaves an existing one as it
// was, however the list fails.
TEST_F(FaultTest, FailureBeforeWritingKeepsResult) {
  const struct {
    const char* label;
    std::function<void(const std::string& list)> make_list;
    const char* message;
    bool linux_only;
  } cases[] = {
      {"list missing", [](const std::string&) {}, kCannotOpen, false},
      {"list is a directory",
       [](const std::string& list) { fs::create_directory(list); }, kCannotOpen,
       false},
      // Reading this file fails at once (with EIO) although opening works.
      {"list cannot be read",
       [](const std::string& list) {
         fs::create_symlink("/proc/self/mem", list);
       },
       kNotValid, true},
  };
  for (const auto& c : cases) {
    if (c.linux_only && WindowsProgram()) continue;
    const std::string list = dir_ / "movie.parts";
    c.make_list(list);
    WriteFile(dir_ / "movie.jobs.part", kOldResult);
    const RunResult run = Run({"movie.avi"});
    EXPECT_EQ(run.out, Transcript(Processing("movie.parts") + c.message))
        << c.label;
    EXPECT_EQ(run.exit_code, kFailureCode) << c.label;
    EXPECT_EQ(ReadFile(dir_ / "movie.jobs.part"), kOldResult) << c.label;
    std::error_code ignored;
    fs::remove_all(list, ignored);
  }
}

// Names longer than the file system takes fail like any name that cannot be
// opened: for the list, or for the result once the list was read. Names up
// to the limit work.
TEST_F(FaultTest, NamesTooLongForTheFileSystem) {
  if (WindowsProgram()) GTEST_SKIP() << "name limits differ under Wine";
  // An argument near the system's limit for one argument.
  const std::string huge(100'000, 'a');
  RunResult run = Run({huge});
  EXPECT_EQ(run.out, Transcript(Processing(huge + ".parts") + kCannotOpen));
  EXPECT_EQ(run.exit_code, kFailureCode);

  // 249 + 6 bytes make a list name of 255 bytes, the most a Linux file
  // system takes; the result name is 4 bytes longer.
  const std::string base(249, 'm');
  const std::string list = kHeader + "1,a,b,0\n"s;
  WriteFile(dir_ / (base + ".parts"), list);
  run = Run({base});
  EXPECT_EQ(run.out, Transcript(Processing(base + ".parts") +
                                Writing(base + ".jobs.part") + kCannotOpen));
  EXPECT_EQ(run.exit_code, kFailureCode);
  EXPECT_EQ(ReadFile(dir_ / (base + ".parts")), list);
  EXPECT_TRUE(HoldsOnly({base + ".parts"}));

  // A result name of 255 bytes is still written: its temporary file beside
  // it gets a shortened name.
  const std::string longest(245, 'r');
  WriteFile(dir_ / (longest + ".parts"), list);
  run = Run({longest});
  EXPECT_EQ(run.out, Transcript(Processing(longest + ".parts") +
                                Writing(longest + ".jobs.part") + kDone));
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(ReadFile(dir_ / (longest + ".jobs.part")),
            Script("movie", "avi", {1}));
  EXPECT_TRUE(
      HoldsOnly({base + ".parts", longest + ".parts", longest + ".jobs.part"}));
}

// The smallest address-space limit, in whole megabytes, under which KOLVA
// runs through on a one-entry list; 0 if none up to 256 MB does. Under the
// smallest limits not even the C runtime's start-up in the statically linked
// program finds room, and glibc may say so on standard error.
rlim_t SmallestWorkingLimit() {
  TempDir dir;
  WriteFile(dir / "movie.parts", kHeader + "1,a,b,0\n"s);
  RunOptions options;
  options.drop_errors = true;
  for (rlim_t megabytes = 1; megabytes <= 256; ++megabytes) {
    const rlim_t limit = megabytes * kMegabyte;
    options.address_limit = limit;
    if (RunIn(dir.path(), {"movie.avi"}, options).exit_code == 0) {
      return limit;
    }
  }
  return 0;
}

// Lists that need far more memory than the smallest working limit leaves.
std::vector<ListCase> HungryLists() {
  // The first entry's key puts it last, so that the entries need the sort
  // and its second table.
  std::string many = kHeader + "9,a,b,1\n"s;
  std::vector<std::int64_t> parts;
  for (int part = 1; part <= 2'000'000; ++part) {
    many += std::to_string(part % 9 + 1) + '\n';
    parts.push_back(part % 9 + 1);
  }
  parts.push_back(9);
  const std::string long_name(4 * kMegabyte, 'n');
  return {
      {"two million entries", many, Script("movie", "avi", parts)},
      {"four-megabyte output name",
       "Input:a\nOutput:" + long_name + ".avi\nOptions:x\n2,a,b,1\n1,a,b,0\n",
       Script(long_name, "avi", {1, 2})},
  };
}

class OutOfMemoryTest : public FaultTest {
 protected:
  void SetUp() override {
    FaultTest::SetUp();
#ifdef KOLVA_ADDRESS_SANITIZER
    GTEST_SKIP() << "AddressSanitizer reserves terabytes of shadow memory, so "
                    "no address-space limit leaves it room to start";
#endif
    if (RunnerUsed()) GTEST_SKIP() << "the limit would apply to the runner";
    floor_ = SmallestWorkingLimit();
    ASSERT_NE(floor_, 0u) << "KOLVA did not run under any limit up to 256 MB";
  }
  rlim_t floor_ = 0;
};

// Out of memory while reading: the message, exit code 255, no crash and no
// core, and both files as they were.
TEST_F(OutOfMemoryTest, WhileReadingKeepsEveryFile) {
  for (const ListCase& c : HungryLists()) {
    WriteFile(dir_ / "movie.parts", c.list);
    WriteFile(dir_ / "movie.jobs.part", kOldResult);
    const RunResult run = Run({"movie.avi"}, floor_ + 4 * kMegabyte);
    EXPECT_EQ(run.out, Transcript(Processing("movie.parts") + kOutOfMemory))
        << c.label;
    EXPECT_EQ(run.exit_code, kFailureCode) << c.label;
    EXPECT_EQ(run.signal, 0) << c.label;
    EXPECT_EQ(ReadFile(dir_ / "movie.jobs.part"), kOldResult) << c.label;
    EXPECT_TRUE(ReadFile(dir_ / "movie.parts") == c.list) << c.label;
    EXPECT_TRUE(HoldsOnly({"movie.parts", "movie.jobs.part"})) << c.label;
  }
}

// A huge argument under address-space limits that leave too little room for
// the names derived from it: the run says so and ends with 255, rather than
// crashing or reporting success; larger limits reach the missing list.
TEST_F(OutOfMemoryTest, HugeArgument) {
  // Below 1264 KiB (measured on x86-64, this argument on the stack included)
  // the static program dies before main, in the C runtime's start-up; silent
  // runs below 1.5 MiB, room for a larger environment, are passed over.
  constexpr rlim_t kStartUpLimit = 1536 * 1024;
  const std::string huge(130'000, 'a');
  const std::string out_of_memory = Transcript(kOutOfMemory);
  const std::string cannot_open =
      Transcript(Processing(huge + ".parts") + kCannotOpen);
  int out_of_memory_runs = 0;
  for (rlim_t limit = kMegabyte / 2; limit < floor_ + 8 * kMegabyte;
       limit += 32 * 1024) {
    SCOPED_TRACE("limit " + std::to_string(limit / 1024) + " KB");
    const RunResult run = Run({huge}, limit);
    if (run.out.empty() && limit < kStartUpLimit) continue;
    EXPECT_EQ(run.signal, 0);
    EXPECT_EQ(run.exit_code, kFailureCode);
    if (run.out == cannot_open) break;
    EXPECT_EQ(run.out, out_of_memory);
    ++out_of_memory_runs;
  }
  EXPECT_GT(out_of_memory_runs, 0) << "no limit ran out of memory on the names";
  EXPECT_TRUE(HoldsOnly({}));
}

// A few dozen runs over megabytes of list: slow enough to count as big.
using BigOutOfMemoryTest = OutOfMemoryTest;

// Raises the limit megabyte by megabyte from the smallest working one until
// the run succeeds. Every run on the way must end in one of the three clean
// ways, in this order: out of memory while reading, out of memory while
// preparing the result (both with both files kept), success.
TEST_F(BigOutOfMemoryTest, EveryLimitEndsCleanly) {
  int preparing_failures = 0;
  for (const ListCase& c : HungryLists()) {
    SCOPED_TRACE(c.label);
    WriteFile(dir_ / "movie.parts", c.list);
    const std::string reading_failed =
        Transcript(Processing("movie.parts") + kOutOfMemory);
    const std::string preparing_failed = AfterReading(kOutOfMemory);
    int stage = 0;  // 0 reading failed, 1 preparing failed, 2 success.
    int runs[3] = {0, 0, 0};
    for (rlim_t limit = floor_; stage < 2 && limit < floor_ + 512 * kMegabyte;
         limit += kMegabyte) {
      SCOPED_TRACE("limit " + std::to_string(limit / kMegabyte) + " MB");
      WriteFile(dir_ / "movie.jobs.part", kOldResult);
      const RunResult run = Run({"movie.avi"}, limit);
      ASSERT_EQ(run.signal, 0);
      const int now = run.out == reading_failed     ? 0
                      : run.out == preparing_failed ? 1
                                                    : 2;
      ASSERT_GE(now, stage) << "a larger limit failed earlier";
      stage = now;
      ++runs[stage];
      if (stage < 2) {
        ASSERT_EQ(run.exit_code, kFailureCode);
        ASSERT_EQ(ReadFile(dir_ / "movie.jobs.part"), kOldResult);
        ASSERT_TRUE(HoldsOnly({"movie.parts", "movie.jobs.part"}));
      } else {
        ASSERT_EQ(run.out, AfterReading(kDone));
        ASSERT_EQ(run.exit_code, 0);
        const std::optional<std::string> result =
            ReadFile(dir_ / "movie.jobs.part");
        ASSERT_TRUE(result.has_value());
        ASSERT_EQ(Difference(*result, c.result), "");
      }
      ASSERT_TRUE(ReadFile(dir_ / "movie.parts") == c.list);
    }
    EXPECT_EQ(stage, 2) << "no limit up to 512 MB above the floor sufficed";
    EXPECT_GT(runs[0], 0);
    preparing_failures += runs[1];
    RecordProperty(c.label, std::to_string(runs[0]) + " read, " +
                                std::to_string(runs[1]) + " write failures");
  }
  EXPECT_GT(preparing_failures, 0) << "no run failed while preparing";
}

// The line that announces the reading comes before it, and reading may wait:
// here the list is a named pipe that gets its bytes only once the line came.
TEST_F(FaultTest, ProcessingLineComesBeforeTheRead) {
  if (WindowsProgram()) GTEST_SKIP() << "a named pipe is no Windows file";
  const std::string list = dir_ / "movie.parts";
  ASSERT_EQ(mkfifo(list.c_str(), 0600), 0);
  RunOptions options;
  options.timeout_seconds = 10;  // Ends a run that waits without the line.
  Started started = StartIn(dir_.path(), {"movie.avi"}, options);
  ASSERT_TRUE(ReadUntil(&started, Crlf(Processing("movie.parts"))));
  // Opened without waiting for a reader, so that a run that never opens the
  // list fails the test instead of leaving it waiting.
  int writer = -1;
  for (int tries = 0; writer < 0 && tries < 1000; ++tries) {
    writer = open(list.c_str(), O_WRONLY | O_NONBLOCK);
    if (writer < 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_GE(writer, 0) << "the list was never opened";
  const std::string bytes = kHeader + "1,a,b,0\n"s;
  EXPECT_EQ(write(writer, bytes.data(), bytes.size()),
            static_cast<ssize_t>(bytes.size()));
  close(writer);
  const RunResult run = Finish(&started);
  EXPECT_EQ(run.out, AfterReading(kDone));
  EXPECT_EQ(run.exit_code, 0);
}

class BigInputTest : public FaultTest {};

// Tokens of ten megabytes are read whole, wherever they stand, and a name of
// that size is written whole and escaped in every line.
TEST_F(BigInputTest, TenMegabyteTokens) {
  const std::string ten(10 * kMegabyte, 'n');
  std::string blank;
  std::string quotes;
  std::string quotes_escaped;
  while (blank.size() < ten.size()) {
    blank += " \t\r\n\v\f";
    quotes += "\\\"";
    quotes_escaped += "\\\\\\\"";
  }
  const ListCase cases[] = {
      {"output name",
       "Input:a Output:" + ten + ".avi Options:x 2,a,b,1 1,a,b,0",
       Script(ten, "avi", {1, 2})},
      {"output name of backslashes and quotes",
       "Input Output:" + quotes + ".avi Options 2,a,b,1 1,a,b,0",
       Script(quotes_escaped, "avi", {1, 2})},
      {"input value", "Input:" + ten + " Output:movie.avi Options 1",
       Script("movie", "avi", {1})},
      {"entry field", kHeader + "2,a,b,1 1,"s + ten + ",b,-5\n",
       Script("movie", "avi", {1, 2})},
      {"white space between entries", kHeader + "2,a,b,1"s + blank + "1",
       Script("movie", "avi", {1, 2})},
      {"bytes after a zero byte",
       "Input Output:movie.avi\0"s + ten + " Options 3",
       Script("movie", "avi", {3})},
  };
  for (const auto& c : cases) {
    WriteFile(dir_ / "movie.parts", c.list);
    const RunResult run = Run({"movie.avi"});
    EXPECT_EQ(run.out, AfterReading(kDone)) << c.label;
    EXPECT_EQ(run.exit_code, 0) << c.label;
    const std::optional<std::string> result =
        ReadFile(dir_ / "movie.jobs.part");
    ASSERT_TRUE(result.has_value()) << c.label;
    EXPECT_EQ(Difference(*result, c.result), "") << c.label;
  }
}

// Five million entries with keys from a small range, so most keys are shared,
// and a few at the ends of the range: every line is there, in ascending key
// order and, among equal keys, in list order.
TEST_F(BigInputTest, FiveMillionEntries) {
  constexpr int kEntries = 5'000'000;
  std::string list = kHeader;
  list.reserve(std::size_t{kEntries} * 20);
  std::vector<std::pair<std::int32_t, std::int64_t>> entries;
  entries.reserve(kEntries);
  std::uint32_t mix = 12345;
  for (int part = 1; part <= kEntries; ++part) {
    mix = mix * 1103515245u + 12345u;
    std::int64_t key = static_cast<std::int64_t>(mix >> 16) % 2001 - 1000;
    if (part % 1'000'003 == 0) key = part % 2 == 0 ? INT32_MIN : INT32_MAX;
    list += std::to_string(part) + ",h" + std::to_string(part % 7) + ",t," +
            std::to_string(key) + '\n';
    entries.emplace_back(static_cast<std::int32_t>(key), part);
  }
  std::stable_sort(
      entries.begin(), entries.end(),
      [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<std::int64_t> parts;
  parts.reserve(kEntries);
  for (const auto& entry : entries) parts.push_back(entry.second);
  WriteFile(dir_ / "movie.parts", list);
  list.clear();
  list.shrink_to_fit();

  const RunResult run = Run({"movie.avi"});
  EXPECT_EQ(run.out, AfterReading(kDone));
  EXPECT_EQ(run.exit_code, 0);
  const std::optional<std::string> result = ReadFile(dir_ / "movie.jobs.part");
  ASSERT_TRUE(result.has_value());
  EXPECT_EQ(Difference(*result, Script("movie", "avi", parts)), "");
}

}  // namespace
}  // namespace kolva_test

int main(int argc, char** argv) { return kolva_test::RunTests(argc, argv); }

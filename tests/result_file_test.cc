// Fault tests of the result file: it is replaced whole or not at all,
// whatever stands at its name and however the run ends. Part of the fault
// driver (see fault_test.cc); suites named Big* carry the label "big".

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <ostream>
#include <random>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "gtest/gtest.h"
#include "run_support.h"

namespace kolva_test {
namespace {

namespace fs = std::filesystem;
using std::string_literals::operator""s;

const std::string kList = kHeader + "2,a,b,1\n1,a,b,0\n"s;
const std::string kNewResult = Script("movie", "avi", {1, 2});

// The names in `dir` that end in ".tmp": temporary files left behind.
std::vector<std::string> Leftovers(const std::string& dir) {
  std::vector<std::string> found;
  for (const std::string& name : SortedNames(dir)) {
    if (name.ends_with(".tmp")) found.push_back(name);
  }
  return found;
}

bool IsPlainFile(const std::string& path) {
  return fs::is_regular_file(fs::symlink_status(path));
}

// KOLVA for runs as "nobody": when the tests run as root, a copy that any
// user may run, since "nobody" may not reach the build folder.
const std::string& UnprivilegedExecutable() {
  static const TempDir dir;
  static const std::string path = [] {
    if (geteuid() != 0) return CommandPrefix().back();
    const std::string copy = dir / "KOLVA";
    fs::copy_file(CommandPrefix().back(), copy);
    fs::permissions(dir.path(), fs::perms::others_read | fs::perms::others_exec,
                    fs::perm_options::add);
    return copy;
  }();
  return path;
}

// What stands at the result name before a run on kList, and what the run
// must print and leave there.
struct ResultNameCase {
  const char* label;
  // Makes what stands at `result` in `dir`.
  std::function<void(const TempDir& dir, const std::string& result)> make;
  const char* ending;  // kDone, kCannotOpen or kCannotWrite.
  // Checks what the run left; the common checks are made by the test.
  std::function<void(const TempDir& dir, const std::string& result)> check;
  RunOptions options = {};
  bool linux_only = false;  // Wine or Windows differ, or cannot show it.
  bool root_only = false;   // Needs KOLVA run as another user than the owner.
};

// Names a case in failure messages by its label.
void PrintTo(const ResultNameCase& c, std::ostream* out) { *out << c.label; }

void KeepsOld(const TempDir&, const std::string& result) {
  EXPECT_EQ(ReadFile(result), kOldResult);
}

void HoldsNewFile(const TempDir&, const std::string& result) {
  ASSERT_TRUE(IsPlainFile(result));
  EXPECT_EQ(ReadFile(result), kNewResult);
}

void StaysMissing(const TempDir&, const std::string& result) {
  EXPECT_FALSE(EntryExists(result));
}

// Checks that the new result holds the new lines with exactly `bits`, and
// belongs to `group` if one is given.
std::function<void(const TempDir&, const std::string&)> HoldsNewFileWith(
    mode_t bits, std::optional<gid_t> group = {}) {
  return [bits, group](const TempDir& dir, const std::string& result) {
    HoldsNewFile(dir, result);
    struct stat info;
    ASSERT_EQ(stat(result.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, bits);
    EXPECT_EQ(info.st_gid, group.value_or(info.st_gid));
  };
}

// The bits of a new file: 0666 less the umask.
mode_t NewFileBits() {
  const mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

std::vector<ResultNameCase> ResultNameCases() {
  RunOptions no_input;
  no_input.close_input = true;
  RunOptions tiny_files;
  tiny_files.file_size_limit = 40;  // Below the new result's 73 bytes.
  RunOptions unprivileged;
  unprivileged.unprivileged = true;
  RunOptions guarded;
  guarded.timeout_seconds = 10;  // A run that waits on the pipe is ended.
  return {
      {"no result yet", [](const TempDir&, const std::string&) {}, kDone,
       HoldsNewFile},
      {"older result",
       [](const TempDir&, const std::string& result) {
         WriteFile(result, kOldResult);
       },
       kDone, HoldsNewFile},
      {"older result keeps its permissions",
       [](const TempDir&, const std::string& result) {
         WriteFile(result, kOldResult);
         chmod(result.c_str(), 0604);
       },
       kDone,
       HoldsNewFileWith(0604),
       {},
       true},
      // The runner's own new file may be written, though the target not.
      {"link to a private read-only file",
       [](const TempDir& dir, const std::string& result) {
         WriteFile(dir / "private.txt", kOldResult);
         chmod((dir / "private.txt").c_str(), 0400);
         fs::create_symlink("private.txt", result);
       },
       kDone,
       HoldsNewFileWith(0600),
       {},
       true},
      // The list's file takes descriptor 0, then the result's folder.
      {"standard input closed", [](const TempDir&, const std::string&) {},
       kDone, HoldsNewFile, no_input, true},
      {"link to a file elsewhere",
       [](const TempDir& dir, const std::string& result) {
         WriteFile(dir / "elsewhere.txt", kOldResult);
         fs::create_symlink("elsewhere.txt", result);
       },
       kDone,
       [](const TempDir& dir, const std::string& result) {
         HoldsNewFile(dir, result);
         EXPECT_EQ(ReadFile(dir / "elsewhere.txt"), kOldResult);
       }},
      {"dangling link",
       [](const TempDir&, const std::string& result) {
         fs::create_symlink("nowhere.txt", result);
       },
       kDone,
       [](const TempDir& dir, const std::string& result) {
         HoldsNewFile(dir, result);
         EXPECT_FALSE(EntryExists(dir / "nowhere.txt"));
       }},
      // The list itself is compared after every case.
      {"link to the parts list",
       [](const TempDir&, const std::string& result) {
         fs::create_symlink("movie.parts", result);
       },
       kDone, HoldsNewFile},
      // A device's bits say nothing of a file: /dev/full is 0666.
      {"link to a device that refuses writes",
       [](const TempDir&, const std::string& result) {
         fs::create_symlink("/dev/full", result);
       },
       kDone,
       HoldsNewFileWith(NewFileBits()),
       {},
       true},
      {"hard link",
       [](const TempDir& dir, const std::string& result) {
         WriteFile(dir / "other.txt", kOldResult);
         fs::create_hard_link(dir / "other.txt", result);
       },
       kDone,
       [](const TempDir& dir, const std::string& result) {
         HoldsNewFile(dir, result);
         EXPECT_EQ(ReadFile(dir / "other.txt"), kOldResult);
       }},
      {"folder",
       [](const TempDir&, const std::string& result) {
         fs::create_directory(result);
       },
       kCannotOpen,
       [](const TempDir&, const std::string& result) {
         EXPECT_TRUE(fs::is_directory(result));
         EXPECT_TRUE(fs::is_empty(result));
       }},
      {"named pipe",
       [](const TempDir&, const std::string& result) {
         ASSERT_EQ(mkfifo(result.c_str(), 0666), 0);
       },
       kCannotOpen,
       [](const TempDir&, const std::string& result) {
         EXPECT_TRUE(fs::is_fifo(result));
       },
       guarded, true},
      {"read-only result",
       [](const TempDir&, const std::string& result) {
         WriteFile(result, kOldResult);
         chmod(result.c_str(), 0444);
       },
       kCannotOpen, KeepsOld, unprivileged},
      {"read-only folder",
       [](const TempDir& dir, const std::string& result) {
         WriteFile(result, kOldResult);
         chmod(result.c_str(), 0666);
         chmod(dir.path().c_str(), 0555);
       },
       kCannotOpen, KeepsOld, unprivileged, true},
      // A folder that may be searched and written but not listed.
      {"drop box folder",
       [](const TempDir& dir, const std::string&) {
         chmod(dir.path().c_str(), 0333);
       },
       kDone, HoldsNewFile, unprivileged, true, true},
      // The folder gives a new file its own group; the old group comes back.
      {"older result of another group in a setgid folder",
       [](const TempDir& dir, const std::string& result) {
         WriteFile(result, kOldResult);
         chmod(result.c_str(), 0640);
         ASSERT_EQ(chown(dir.path().c_str(), 0, 12345), 0);
         chmod(dir.path().c_str(), 02777);
       },
       kDone,
       HoldsNewFileWith(0640, 0),
       {},
       true,
       true},
      // "nobody" may not give the new file the old group: no group bits.
      {"older result of a group the runner is not in",
       [](const TempDir&, const std::string& result) {
         WriteFile(result, kOldResult);
         chmod(result.c_str(), 0666);
       },
       kDone, HoldsNewFileWith(0606), unprivileged, true, true},
      // The sticky bit lets only the owner replace a file: the rename fails.
      {"another user's result in a sticky folder",
       [](const TempDir& dir, const std::string& result) {
         WriteFile(result, kOldResult);
         chmod(result.c_str(), 0666);
         chmod(dir.path().c_str(), 01777);
       },
       kCannotWrite, KeepsOld, unprivileged, true, true},
      {"file size limit, no result yet",
       [](const TempDir&, const std::string&) {}, kCannotWrite, StaysMissing,
       tiny_files, true},
      {"file size limit, older result",
       [](const TempDir&, const std::string& result) {
         WriteFile(result, kOldResult);
       },
       kCannotWrite, KeepsOld, tiny_files, true},
  };
}

// Whatever stands at the result name, a run either replaces it whole by the
// new result or says why not and leaves it as it was; the parts list is
// never touched and no temporary file is left. One test per case.
class ResultNameTest : public testing::TestWithParam<ResultNameCase> {};

TEST_P(ResultNameTest, WhateverStandsAtTheResultName) {
  const ResultNameCase& c = GetParam();
  if (c.linux_only && WindowsProgram()) {
    GTEST_SKIP() << "Wine or Windows differ here, or cannot show it";
  }
  if (c.root_only && geteuid() != 0) {
    GTEST_SKIP() << "needs the tests run as root, to run KOLVA as nobody";
  }
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  const std::string result = dir / "movie.jobs.part";
  WriteFile(dir / "movie.parts", kList);
  chmod(dir.path().c_str(), 0777);
  c.make(dir, result);
  RunOptions options = c.options;
  RunResult run;
  if (options.unprivileged && !WindowsProgram()) {
    std::vector<std::string> words = CommandPrefix();
    words.back() = UnprivilegedExecutable();
    words.push_back("movie.avi");
    run = RunCommandIn(dir.path(), words, options);
  } else {
    options.unprivileged = false;
    run = RunIn(dir.path(), {"movie.avi"}, options);
  }
  chmod(dir.path().c_str(), 0700);
  EXPECT_EQ(run.out, AfterReading(c.ending));
  EXPECT_EQ(run.exit_code, c.ending == kDone ? 0 : kFailureCode);
  EXPECT_EQ(run.signal, 0);
  EXPECT_EQ(ReadFile(dir / "movie.parts"), kList);
  EXPECT_EQ(Leftovers(dir.path()), std::vector<std::string>{});
  c.check(dir, result);
}

// Each case is named after its label, in letters, digits and underscores.
INSTANTIATE_TEST_SUITE_P(
    Cases, ResultNameTest, testing::ValuesIn(ResultNameCases()),
    [](const testing::TestParamInfo<ResultNameCase>& info) {
      std::string name = info.param.label;
      for (char& c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
      }
      return name;
    });

// With standard output closed (KOLVA x | head, with head gone), the messages
// are lost but the run still writes its result instead of being killed.
TEST(ResultFileTest, ClosedConsoleStillWritesTheResult) {
  if (WindowsProgram()) GTEST_SKIP() << "the pipe would be Wine's";
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  WriteFile(dir / "movie.parts", kList);
  RunOptions options = {};
  options.close_output = true;
  const RunResult run = RunIn(dir.path(), {"movie.avi"}, options);
  EXPECT_EQ(run.signal, 0);
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(ReadFile(dir / "movie.jobs.part"), kNewResult);
}

// A list of `count` entries with keys in a small range, so that many keys
// are shared, for the output `stem`.avi, and the result it gives.
ListCase MakeList(int count, std::uint32_t seed,
                  const std::string& stem = "movie") {
  ListCase list{"list", "Input:a\nOutput:" + stem + ".avi\nOptions:x\n", ""};
  std::vector<std::pair<std::int32_t, std::int64_t>> entries;
  entries.reserve(static_cast<std::size_t>(count));
  std::mt19937 random(seed);
  for (int part = 1; part <= count; ++part) {
    const auto key = static_cast<std::int32_t>(random() % 100000);
    list.list += std::to_string(part) + ",h,1.5," + std::to_string(key) + '\n';
    entries.emplace_back(key, part);
  }
  std::stable_sort(
      entries.begin(), entries.end(),
      [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<std::int64_t> parts;
  parts.reserve(entries.size());
  for (const auto& entry : entries) parts.push_back(entry.second);
  list.result = Script(stem, "avi", parts);
  return list;
}

const std::string kWritingMessage = Crlf(Writing("movie.jobs.part"));

// Starts KOLVA on "movie.avi" in `dir` and waits until it says that it
// writes the result.
Started StartWriting(const std::string& dir) {
  Started started = StartIn(dir, {"movie.avi"});
  EXPECT_TRUE(ReadUntil(&started, kWritingMessage));
  return started;
}

// How long a complete run on "movie.avi" in `dir` writes: from its message
// to its end. Used only to spread moments over that time.
std::chrono::steady_clock::duration WriteTime(const std::string& dir) {
  Started started = StartWriting(dir);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Finish(&started).exit_code, 0);
  return std::chrono::steady_clock::now() - start;
}

// Two runs at once with different lists that write the same result name
// ("movie.avi" reads movie.parts, "movie.mpg" reads movie.mpg.parts): the
// result is always one of the two complete results. The second, short run
// starts at moments spread over the first one's writing, so that its own
// writing falls into it; the two results differ in every line and in size,
// so that any mixture shows.
TEST(BigResultFileTest, TwoRunsAtOnceLeaveOneCompleteResult) {
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  const ListCase first = MakeList(2'000'000, 1, "movie");
  const ListCase second = MakeList(1000, 2, "other_movie");
  WriteFile(dir / "movie.parts", first.list);
  WriteFile(dir / "movie.mpg.parts", second.list);
  const auto write_time = WriteTime(dir.path());
  constexpr int kTrials = 8;
  for (int trial = 0; trial < kTrials; ++trial) {
    SCOPED_TRACE("trial " + std::to_string(trial));
    Started one = StartWriting(dir.path());
    std::this_thread::sleep_for(write_time * trial / kTrials);
    Started two = StartIn(dir.path(), {"movie.mpg"});
    EXPECT_EQ(Finish(&two).exit_code, 0);
    EXPECT_EQ(Finish(&one).exit_code, 0);
    const std::optional<std::string> result = ReadFile(dir / "movie.jobs.part");
    ASSERT_TRUE(result.has_value());
    EXPECT_TRUE(*result == first.result || *result == second.result)
        << Difference(*result, first.result);
    EXPECT_EQ(Leftovers(dir.path()), std::vector<std::string>{});
  }
}

// Runs ended by a signal at random moments while they write: every time,
// the result name holds the old result or the complete new one, never a
// mixture. The two differ in every line and in size.
TEST(BigResultFileTest, KilledWhileWritingLeavesOldOrNew) {
  if (RunnerUsed()) GTEST_SKIP() << "the signal would reach the runner";
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  const std::string old_result = MakeList(3'000'000, 3, "older_movie").result;
  const ListCase list = MakeList(3'000'000, 4, "movie");
  const std::string result_name = dir / "movie.jobs.part";
  WriteFile(dir / "movie.parts", list.list);
  const auto write_time = WriteTime(dir.path());
  ASSERT_EQ(ReadFile(result_name), list.result);

  std::mt19937 random(5);
  int kept_old = 0;
  int old_at_message = 0;
  for (int run = 0; run < 20; ++run) {
    SCOPED_TRACE("run " + std::to_string(run));
    WriteFile(result_name, old_result);
    const int signal = run == 19 ? SIGINT : SIGKILL;
    Started started = StartWriting(dir.path());
    // The message comes before the writing, not only after the rename.
    if (fs::file_size(result_name) == old_result.size()) ++old_at_message;
    std::this_thread::sleep_for(write_time * (random() % 1000) / 1000);
    kill(started.pid, signal);
    const RunResult ended = Finish(&started);
    EXPECT_TRUE(ended.signal == signal || ended.exit_code == 0);
    const std::optional<std::string> left = ReadFile(result_name);
    ASSERT_TRUE(left.has_value());
    if (*left == old_result) {
      ++kept_old;
    } else {
      ASSERT_EQ(Difference(*left, list.result), "");
    }
    // A run killed before its rename leaves its temporary file, and no more.
    const std::vector<std::string> leftovers = Leftovers(dir.path());
    EXPECT_LE(leftovers.size(), 1u);
    for (const std::string& name : leftovers) fs::remove(dir / name);
  }
  EXPECT_GT(old_at_message, 0) << "the message came after the rename";
  RecordProperty("runs that kept the old result", kept_old);
}

}  // namespace
}  // namespace kolva_test

// Tests of the file layer: temporary names beside the result, and the result
// replaced in one step.
#include "common/files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "common/files_platform.h"

namespace {

using std::string_literals::operator""s;

// The temporary name with its eight unique digits written as "#".
std::string TemporaryPattern(const std::string& name) {
  std::string temporary = MakeResultFile(name).temporary_name;
  const std::size_t digits = temporary.size() - 4 - 8;
  if (temporary.size() >= 12) temporary.replace(digits, 8, "#");
  return temporary;
}

TEST(MakeResultFileTest, TemporaryNameStaysBesideTheResult) {
  const std::string long_name(255 - 10, 'm');
  const struct {
    std::string name;
    std::string expected;
  } cases[] = {
      {"movie.jobs.part", "movie.jobs.part.#.tmp"},
      {"clips/movie.jobs.part", "clips/movie.jobs.part.#.tmp"},
      {".jobs.part", ".jobs.part.#.tmp"},
      // A file name of the longest length keeps its start, and the folder is
      // never cut.
      {"d/" + long_name + ".jobs.part",
       "d/" + long_name.substr(0, 242) + ".#.tmp"},
      {"d/" + long_name.substr(0, 232) + ".jobs.part",
       "d/" + long_name.substr(0, 232) + ".jobs.part.#.tmp"},
      // Only '/' ends a folder here.
      {"d/:\\" + long_name.substr(0, 241) + ".jobs.part",
       "d/:\\" + long_name.substr(0, 240) + ".#.tmp"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TemporaryPattern(c.name), c.expected) << c.name;
  }
}

// A path in the system's temporary folder named after the process, so that
// test runs at once keep apart.
std::string ScratchPath(const std::string& suffix) {
  return (std::filesystem::temp_directory_path() /
          ("kolva_files_test_" + std::to_string(getpid()) + suffix))
      .string();
}

std::string Contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// "NAME.xxxxxxxx.tmp" with eight lowercase hex digits.
bool IsTemporaryNameOf(const std::string& temporary, const std::string& name) {
  return temporary.size() == name.size() + 13 &&
         temporary.starts_with(name + ".") && temporary.ends_with(".tmp") &&
         temporary.find_first_not_of("0123456789abcdef", name.size() + 1) ==
             temporary.size() - 4;
}

// Leftovers of a hundred runs killed before their rename are stepped past,
// never opened. Before the rename, a folder that appears at the result name
// is refused, not moved aside, and a failed close stops it. A new result
// gets 0666 less the umask.
TEST(ReplaceResultFileTest, StepsPastLeftoversAndRefusesAFolder) {
  const mode_t mask = umask(002);
  const std::string dir = ScratchPath("");
  ASSERT_TRUE(std::filesystem::create_directory(dir));
  const std::string name = dir + "/movie.jobs.part";
  ResultFile leftover;
  for (int run = 0; run < 100; ++run) {
    leftover = MakeResultFile(name);
    ASSERT_TRUE(CreateResultFile(&leftover));
    ASSERT_TRUE(WriteToResultFile(&leftover, "left", 4));
    close(leftover.descriptor);
    close(leftover.folder_descriptor);
  }
  for (const std::string fault : {"folder appears", "close fails", ""}) {
    ResultFile result = MakeResultFile(name);
    ASSERT_TRUE(CreateResultFile(&result));
    EXPECT_TRUE(IsTemporaryNameOf(result.temporary_name, name));
    EXPECT_NE(result.temporary_name, leftover.temporary_name);
    ASSERT_TRUE(WriteToResultFile(&result, "new\r\n", 5));
    if (fault == "folder appears") {
      ASSERT_TRUE(std::filesystem::create_directory(name));
      std::ofstream(name + "/inside") << "kept";
    }
    // Closed here, the descriptor makes the close in ReplaceResultFile fail.
    if (fault == "close fails") close(result.descriptor);
    EXPECT_EQ(ReplaceResultFile(&result, true), fault.empty()) << fault;
    EXPECT_FALSE(std::filesystem::exists(result.temporary_name)) << fault;
    if (fault == "folder appears") {
      EXPECT_EQ(Contents(name + "/inside"), "kept");
      std::filesystem::remove_all(name);
    }
    EXPECT_EQ(std::filesystem::exists(name), fault.empty()) << fault;
  }
  EXPECT_EQ(Contents(leftover.temporary_name), "left");
  EXPECT_EQ(Contents(name), "new\r\n");
  struct stat info;
  ASSERT_EQ(stat(name.c_str(), &info), 0);
  umask(mask);
  EXPECT_EQ(info.st_mode & 07777, 0664u);
  std::filesystem::remove_all(dir);
}

// The result stays in the folder that CreateResultFile opened, though the
// folder is renamed and another takes its name before the rename; and a
// path longer than PATH_MAX still takes a result and a temporary name
// beside it, as only the file name's length counts.
TEST(ReplaceResultFileTest, StaysInTheFolderItOpened) {
  const std::string dir = ScratchPath("");
  const std::string moved = ScratchPath("_moved");
  std::string deep = dir;
  while (deep.size() < PATH_MAX - 200) deep += "/" + std::string(100, 'd');
  ASSERT_TRUE(std::filesystem::create_directories(deep));
  const int deep_folder = open(deep.c_str(), O_PATH | O_DIRECTORY);
  for (const std::string& file :
       {std::string("movie.jobs.part"),
        std::string(PATH_MAX + 8 - deep.size(), 'm')}) {
    ResultFile result = MakeResultFile(deep + "/" + file);
    ASSERT_TRUE(CreateResultFile(&result)) << result.name.size();
    ASSERT_TRUE(WriteToResultFile(&result, "new\r\n", 5));
    EXPECT_TRUE(ReplaceResultFile(&result, true));
    // Read through the folder: the whole path may be too long to open.
    char bytes[8] = {};
    const int descriptor = openat(deep_folder, file.c_str(), O_RDONLY);
    EXPECT_EQ(read(descriptor, bytes, sizeof bytes), 5);
    EXPECT_STREQ(bytes, "new\r\n");
    close(descriptor);
    unlinkat(deep_folder, file.c_str(), 0);
  }
  close(deep_folder);
  ResultFile result = MakeResultFile(dir + "/movie.jobs.part");
  ASSERT_TRUE(CreateResultFile(&result));
  ASSERT_TRUE(WriteToResultFile(&result, "newer", 5));
  std::filesystem::rename(dir, moved);
  ASSERT_TRUE(std::filesystem::create_directory(dir));
  std::ofstream(result.temporary_name) << "planted";
  EXPECT_TRUE(ReplaceResultFile(&result, true));
  EXPECT_EQ(Contents(result.temporary_name), "planted");
  EXPECT_FALSE(std::filesystem::exists(result.name));
  EXPECT_EQ(Contents(moved + "/movie.jobs.part"), "newer");
  std::filesystem::remove_all(dir);
  std::filesystem::remove_all(moved);
}

// What a random draw does in this test program: draw, give the same number
// every time, so that every name tried is one a test planted a file at,
// count up from it, fail as where getrandom() is missing, or close standard
// input first, so that the file opened next gets descriptor 0.
enum class Draw { kRandom, kSame, kCounting, kMissing, kAfterClosingInput };
Draw draw = Draw::kRandom;
std::uint32_t drawn = 0x5a5a5a5a;

std::ptrdiff_t TestGetrandom(void* buffer, std::size_t size, unsigned flags) {
  if (draw == Draw::kAfterClosingInput) close(STDIN_FILENO);
  if (draw == Draw::kMissing) {
    errno = ENOSYS;
    return -1;
  }
  if (draw != Draw::kSame && draw != Draw::kCounting) {
    return getrandom(buffer, size, flags);
  }
  std::memcpy(buffer, &drawn, std::min(size, sizeof drawn));
  if (draw == Draw::kCounting) ++drawn;
  return static_cast<std::ptrdiff_t>(size);
}

// Notes the file's bits before fchmod() and the bits it sets.
mode_t bits_before_fchmod = 0;
mode_t bits_set_by_fchmod = 0;
int TestFchmod(int descriptor, unsigned bits) {
  struct stat info;
  if (fstat(descriptor, &info) == 0) bits_before_fchmod = info.st_mode & 07777;
  bits_set_by_fchmod = bits;
  return fchmod(descriptor, bits);
}

constexpr files_platform::SystemCalls kTestCalls = {TestGetrandom, TestFchmod};

// When every name tried is taken, creation fails and the file at the name
// stays as it is; names taken are stepped past, and without getrandom()
// /dev/urandom serves. A temporary file may get descriptor 0, standard
// input being closed. The temporary file of a private result is private
// from its first moment, even under a umask of 0, and never setuid or
// setgid.
TEST(CreateResultFileTest, NamesDescriptorsAndBits) {
  const int input = dup(STDIN_FILENO);
  if (input < 0) GTEST_SKIP() << "standard input is closed already";
  const mode_t mask = umask(0);
  const std::string name = ScratchPath(".jobs.part");
  std::ofstream(name) << "old";
  chmod(name.c_str(), 06600);
  for (const char* taken :
       {".5a5a5a5a.tmp", ".5a5a5a5b.tmp", ".00000000.tmp"}) {
    std::ofstream(name + taken) << "another run's";
  }
  ResultFile result = MakeResultFile(name);
  result.system_calls = &kTestCalls;
  // The Windows form of the name, empty here, gets the same digits.
  result.system_temporary_name = u"wide.00000000.tmp";
  draw = Draw::kSame;
  EXPECT_FALSE(CreateResultFile(&result));
  // Counting up from the first name taken, the third name is free.
  for (const Draw way : {Draw::kCounting, Draw::kMissing}) {
    draw = way;
    EXPECT_TRUE(CreateResultFile(&result));
    EXPECT_EQ(result.temporary_name == name + ".5a5a5a5c.tmp",
              way == Draw::kCounting);
    EXPECT_EQ(result.system_temporary_name == u"wide.5a5a5a5c.tmp",
              way == Draw::kCounting);
    if (result.descriptor >= 0) ReplaceResultFile(&result, false);
  }
  draw = Draw::kAfterClosingInput;
  const bool created = CreateResultFile(&result);
  draw = Draw::kRandom;
  umask(mask);
  EXPECT_EQ(Contents(name + ".5a5a5a5a.tmp"), "another run's");
  EXPECT_TRUE(created);
  EXPECT_EQ(result.descriptor, 0);
  EXPECT_EQ(bits_before_fchmod, 0600u);
  if (created) ReplaceResultFile(&result, false);
  EXPECT_FALSE(std::filesystem::exists(result.temporary_name));
  dup2(input, STDIN_FILENO);
  close(input);
  for (const char* taken :
       {"", ".5a5a5a5a.tmp", ".5a5a5a5b.tmp", ".00000000.tmp"}) {
    std::filesystem::remove(name + taken);
  }
}

// Raw ACLs: owner rw, the user 12345 (bytes "90") r or rw, the owning group
// none or rw, the mask r or rw, others none.
const std::string kAcl =
    "\2\0\0\0\1\0\6\0\377\377\377\377\2\0\4\0"
    "90\0\0\4\0\0\0\377\377\377\377"
    "\20\0\4\0\377\377\377\377\40\0\0\0\377\377\377\377"s;
const std::string kFolderAcl =
    "\2\0\0\0\1\0\6\0\377\377\377\377\2\0\6\0"
    "90\0\0\4\0\6\0\377\377\377\377"
    "\20\0\6\0\377\377\377\377\40\0\0\0\377\377\377\377"s;

// Sets the attribute `key` of `path` to `value`, or removes it if empty.
bool SetAttribute(const std::string& path, const char* key,
                  const std::string& value) {
  if (value.empty()) {
    return removexattr(path.c_str(), key) == 0 || errno == ENODATA;
  }
  return setxattr(path.c_str(), key, value.data(), value.size(), 0) == 0;
}

// A result with an ACL is replaced by one with that ACL, whose group bits
// never grant what the mask grants named users; an ACL that the folder's
// default ACL gives the new file is dropped where the old one had none.
TEST(CreateResultFileTest, KeepsTheAccessListOfTheOldResult) {
  const std::string dir = ScratchPath("");
  ASSERT_TRUE(std::filesystem::create_directory(dir));
  const std::string name = dir + "/movie.jobs.part";
  std::ofstream(name) << "old";
  const bool acl_taken = SetAttribute(name, "system.posix_acl_access", kAcl);
  if (!acl_taken || access("/proc/self/fd", X_OK) != 0) {
    std::filesystem::remove_all(dir);
    GTEST_SKIP() << "no ACLs on this file system, or no /proc";
  }
  const struct {
    const char* label;
    std::string old_acl;
    std::string folder_acl;
    mode_t bits_set;
  } cases[] = {{"old ACL", kAcl, "", 0600},
               {"old ACL, folder's default ACL", kAcl, kFolderAcl, 0600},
               {"folder's default ACL", "", kFolderAcl, 0640}};
  for (const auto& c : cases) {
    chmod(name.c_str(), 0640);
    ASSERT_TRUE(SetAttribute(name, "system.posix_acl_access", c.old_acl));
    ASSERT_TRUE(SetAttribute(dir, "system.posix_acl_default", c.folder_acl));
    ResultFile result = MakeResultFile(name);
    result.system_calls = &kTestCalls;
    ASSERT_TRUE(CreateResultFile(&result));
    EXPECT_EQ(bits_before_fchmod, 0600u) << c.label;
    EXPECT_EQ(bits_set_by_fchmod, c.bits_set) << c.label;
    ASSERT_TRUE(ReplaceResultFile(&result, true));
    char acl[256];
    const ssize_t size =
        getxattr(name.c_str(), "system.posix_acl_access", acl, sizeof acl);
    EXPECT_EQ(std::string(acl, std::max<ssize_t>(size, 0)), c.old_acl)
        << c.label;
    struct stat info;
    ASSERT_EQ(stat(name.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u) << c.label;
  }
  std::filesystem::remove_all(dir);
}

}  // namespace

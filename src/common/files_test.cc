// Tests of the file layer: temporary names beside the result, the result
// replaced in one step, and a read error of a real file after a valid start.
#include "common/files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "common/text_input.h"
#include "partslist/parts_list_reader.h"

namespace {

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
// path too long for a temporary name beside it still takes one, as only the
// file name's length counts.
TEST(ReplaceResultFileTest, StaysInTheFolderItOpened) {
  const std::string dir = ScratchPath("");
  const std::string moved = ScratchPath("_moved");
  std::string deep = dir;
  while (deep.size() < PATH_MAX - 200) deep += "/" + std::string(100, 'd');
  ASSERT_TRUE(std::filesystem::create_directories(deep));
  for (const std::string& name :
       {dir + "/movie.jobs.part",
        deep + "/" + std::string(PATH_MAX - 8 - deep.size(), 'm')}) {
    ResultFile result = MakeResultFile(name);
    ASSERT_TRUE(CreateResultFile(&result)) << name.size();
    ASSERT_TRUE(WriteToResultFile(&result, "new\r\n", 5));
    EXPECT_TRUE(ReplaceResultFile(&result, true));
    EXPECT_EQ(Contents(name), "new\r\n");
  }
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
// every time, so that every name tried is one a test planted a file at, or
// close standard input first, so that the file opened next gets descriptor 0.
enum class Draw { kRandom, kSame, kAfterClosingInput };
Draw draw = Draw::kRandom;

}  // namespace

// Takes the place of the C library's getrandom() in this test program.
extern "C" ssize_t getrandom(void* buffer, std::size_t size, unsigned flags) {
  if (draw == Draw::kAfterClosingInput) close(STDIN_FILENO);
  if (draw != Draw::kSame) return syscall(SYS_getrandom, buffer, size, flags);
  std::memset(buffer, 0x5a, size);
  return static_cast<ssize_t>(size);
}

// Takes the place of the C library's fchmod(), noting the file's bits before.
mode_t bits_before_fchmod = 0;
extern "C" int fchmod(int descriptor, mode_t bits) noexcept {
  struct stat info;
  if (fstat(descriptor, &info) == 0) bits_before_fchmod = info.st_mode & 07777;
  return static_cast<int>(syscall(SYS_fchmod, descriptor, bits));
}

namespace {

// When every name tried is taken, creation fails and the file at the name
// stays as it is. A temporary file may get descriptor 0, standard input
// being closed. The temporary file of a private result is private from its
// first moment, even under a umask of 0, and never setuid or setgid.
TEST(CreateResultFileTest, NamesDescriptorsAndBits) {
  const int input = dup(STDIN_FILENO);
  if (input < 0) GTEST_SKIP() << "standard input is closed already";
  const mode_t mask = umask(0);
  const std::string name = ScratchPath(".jobs.part");
  std::ofstream(name) << "old";
  chmod(name.c_str(), 06600);
  std::ofstream(name + ".5a5a5a5a.tmp") << "another run's";
  ResultFile result = MakeResultFile(name);
  draw = Draw::kSame;
  EXPECT_FALSE(CreateResultFile(&result));
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
  std::filesystem::remove(name);
  std::filesystem::remove(name + ".5a5a5a5a.tmp");
}

// Passes reads on to ReadFromFile until `good_reads` are done, then puts a
// descriptor open for writing only in the file's place, so that every later
// read fails as a failing disk would.
// (cppcheck does not follow the use through the void pointer.)
struct FailingFile {
  // cppcheck-suppress unusedStructMember
  std::FILE* file;
  // cppcheck-suppress unusedStructMember
  int good_reads;
};

std::ptrdiff_t ReadThenFail(void* source, char* buffer, std::size_t size) {
  auto* const failing = static_cast<FailingFile*>(source);
  if (failing->good_reads-- == 0) {
    const int write_only = open("/dev/null", O_WRONLY);
    dup2(write_only, fileno(failing->file));
    close(write_only);
  }
  return ReadFromFile(failing->file, buffer, size);
}

TEST(ReadFromFileTest, ReadErrorAfterValidStartMakesListNotValid) {
  const std::string path = ScratchPath(".parts");
  {
    std::ofstream list(path, std::ios::binary);
    list << "Input:a\nOutput:movie.avi\nOptions:x\n";
    // More than one block, so that the read error comes after a whole block
    // of valid entries.
    for (int part = 1; part <= 100000; ++part) list << part << ",a,b,0\n";
  }
  for (const int good_reads : {1, 1000}) {
    std::uint64_t size = 0;
    std::FILE* const file = OpenFileForReading(path, &size);
    ASSERT_NE(file, nullptr);
    FailingFile failing{file, good_reads};
    TextInput input = MakeTextInput(ReadThenFail, &failing);
    std::string output_name;
    EntryTable entries;
    EXPECT_EQ(ReadPartsList(&input, size, &output_name, &entries),
              good_reads > 1)
        << good_reads << " good reads";
    std::fclose(file);
  }
  std::filesystem::remove(path);
}

}  // namespace

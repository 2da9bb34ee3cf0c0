// Black-box tests: run the built KOLVA executable in a fresh temporary
// directory and compare its console bytes, exit code and result file bytes.
// Usage: kolva_blackbox_test [gtest flags] [runner...] path/to/KOLVA

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "gtest/gtest.h"
#include "run_support.h"

namespace kolva_test {
namespace {

namespace fs = std::filesystem;
using std::string_literals::operator""s;

// Console texts that only these cases see; the rest are in run_support.h.
constexpr char kUsage[] =
    "\n  USAGE:\n\tKOLVA[.exe] "
    "<video_file_processed_by_cluster>[[[.##].avi]|[.parts]]\n\n";

// The Windows name of a file under Wine, which maps the Unix root to drive Z:
// in a new prefix.
std::string WindowsPath(const std::string& unix_path) {
  std::string path = "Z:" + unix_path;
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

std::string AsciiLower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

// Expected console bytes of a run that read `parts_name` and wrote
// `result_name`.
std::string Success(const std::string& parts_name,
                    const std::string& result_name) {
  return Transcript(Processing(parts_name) + Writing(result_name) + kDone);
}

// Each test gets its own working directory.
class BlackboxTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(dir_.path().empty()); }
  RunResult Run(const std::vector<std::string>& args) {
    return RunIn(dir_.path(), args);
  }
  TempDir dir_;
};

// No argument is a failure; asking for help, the Windows way or the other,
// is not, and opens no file.
TEST_F(BlackboxTest, UsageWithoutArgumentOrOnRequest) {
  const std::string no_name = "\nPlease specify file name to process.\n";
  const struct {
    std::vector<std::string> args;
    std::string tail;
    int exit_code;
  } cases[] = {
      {{}, no_name + kUsage, kFailureCode},
      {{"/?"}, kUsage, 0},
      {{"-?", "movie.avi"}, kUsage, 0},
  };
  for (const auto& c : cases) {
    const std::string label = c.args.empty() ? "none" : c.args[0];
    const RunResult run = Run(c.args);
    EXPECT_EQ(run.out, Crlf(kBanner + c.tail)) << label;
    EXPECT_EQ(run.exit_code, c.exit_code) << label;
    EXPECT_TRUE(fs::is_empty(dir_.path())) << label;
  }
}

struct NamingCase {
  std::string arg;
  std::string parts_name;
  std::string result_name;
  // The files on disk where their names differ from the printed ones.
  std::string parts_file = parts_name;
  std::string result_file = result_name;
};

// `text` with "<dir>" replaced by `dir`.
std::string WithDir(std::string text, const std::string& dir) {
  const std::size_t at = text.find("<dir>");
  if (at != std::string::npos) text.replace(at, 5, dir);
  return text;
}

// Runs each case on a valid list in a directory of its own and checks the
// printed names, the exit code and the bytes of the result file. "<dir>"
// in a case stands for the directory's Windows path, lowered where printed.
// Beside the list lies another, omega.parts, which a look-alike of a name
// (O for the Greek capital omega) would reach instead.
void CheckNaming(const std::vector<NamingCase>& cases,
                 const RunOptions& options = {}) {
  for (const NamingCase& c : cases) {
    SCOPED_TRACE("argument \"" + c.arg + "\"");
    TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    const fs::path parts_path = dir / c.parts_file;
    fs::create_directories(parts_path.parent_path());
    WriteFile(parts_path.string(), kHeader + "1,a,b,0\n"s);
    WriteFile(dir / "omega.parts", "Input:a Output:other.avi Options:x 1");
    const std::string printed_dir = AsciiLower(WindowsPath(dir.path()));
    const RunResult run =
        RunIn(dir.path(), {WithDir(c.arg, WindowsPath(dir.path()))}, options);
    EXPECT_EQ(run.out, Success(WithDir(c.parts_name, printed_dir),
                               WithDir(c.result_name, printed_dir)));
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(ReadFile(dir / c.result_file), Script("movie", "avi", {1}));
    EXPECT_FALSE(EntryExists(dir / "omega.jobs.part"));
  }
}

TEST(NamingTest, DerivesListAndResultNames) {
  CheckNaming({
      {"Movie.AVI", "movie.parts", "movie.jobs.part"},
      {"movie.01.avi", "movie.parts", "movie.jobs.part"},
      {"movie.1.avi", "movie.parts", "movie.jobs.part"},
      {"movie.001.avi", "movie.parts", "movie.jobs.part"},
      {"movie.0001.avi", "movie.0001.parts", "movie.0001.jobs.part"},
      {"Movie.02.AVI", "movie.parts", "movie.jobs.part"},
      {"movie.parts", "movie.parts", "movie.jobs.part"},
      {"movie.mpg", "movie.mpg.parts", "movie.jobs.part"},
      {"movie", "movie.parts", "movie.jobs.part"},
      {"ab.avi", "ab.parts", "ab.jobs.part"},
      {"x.avi", "x.avi.parts", "x.jobs.part"},
      {"a.parts", "a.parts.parts", "a.jobs.part"},
      {"ab.parts", "ab.parts", "ab.jobs.part"},
      {".avi", ".avi.parts", ".avi.jobs.part"},
      {"a.b/c", "a.b/c.parts", "a.jobs.part"},
      {"", ".parts", ".jobs.part"},
  });
}

// ':' and '\\' are separators only in KOLVA's own name rules; on Linux they
// are ordinary file-name bytes, so these names are real files here. Wine
// would treat them as drive and directory separators, so the case is skipped
// for the Windows build; WindowsTest covers them there.
TEST(NamingTest, DriveAndBackslashStayInNames) {
  if (WindowsProgram()) GTEST_SKIP() << "':' and '\\' name host paths here";
  CheckNaming({
      {"c:movie", "c:movie.parts", "c:movie.jobs.part"},
      {"dir.d\\movie", "dir.d\\movie.parts", "dir.d\\movie.jobs.part"},
      {"D:\\Clips\\Movie.AVI", "d:\\clips\\movie.parts",
       "d:\\clips\\movie.jobs.part"},
  });
}

TEST_F(BlackboxTest, ExtraArgumentsAreIgnored) {
  WriteFile(dir_ / "movie.parts", kHeader + "1,a,b,0\n"s);
  const RunResult run = Run({"movie.avi", "other.avi", "--help"});
  EXPECT_EQ(run.out, Success("movie.parts", "movie.jobs.part"));
  EXPECT_EQ(run.exit_code, 0);
}

TEST_F(BlackboxTest, ListThatCannotBeOpened) {
  fs::create_directory(dir_ / "folder.parts");
  const struct {
    std::string arg, parts_name;
  } cases[] = {
      {"missing.avi", "missing.parts"},
      {"folder", "folder.parts"},
      // A line feed in a printed name reaches the console as CR LF too.
      {"two\nlines", "two\nlines.parts"},
  };
  for (const auto& c : cases) {
    const RunResult run = Run({c.arg});
    EXPECT_EQ(run.out, Transcript(Processing(c.parts_name) + kCannotOpen))
        << c.arg;
    EXPECT_EQ(run.exit_code, kFailureCode) << c.arg;
  }
  EXPECT_FALSE(EntryExists(dir_ / "missing.jobs.part"));
  EXPECT_FALSE(EntryExists(dir_ / "folder.jobs.part"));
}

TEST_F(BlackboxTest, InvalidListLeavesResultFileAlone) {
  const struct {
    const char* label;
    std::string list;
  } cases[] = {
      {"empty file", ""},
      {"whitespace only", " \r\n\t\n\v\f \n"},
      {"lower-case key", "input:a Output:movie.avi Options:x 1,a,b,0"},
      {"upper-case key", "Input:a OUTPUT:movie.avi Options:x 1,a,b,0"},
      {"keys out of order", "Output:movie.avi Input:a Options:x 1,a,b,0"},
      {"empty Output value", "Input:a\nOutput:\nOptions:x\n1,a,b,0\n"},
      {"Output value of colons", "Input:a\nOutput:::\nOptions:x\n1,a,b,0\n"},
      {"space after colon",
       "Input: d:\\clips\\movie.avi\nOutput:movie.avi\n"
       "Options:x\n1,a,b,0\n"},
      {"cut off in header", "Input:a\nOutput:movie.avi\n"},
      {"0x1A inside header", "Input:a\nOutput:movie.avi\n\x1aOptions:x\n"},
      {"0x1A inside key", "Input:a Output:movie.avi Opt\x1aions:x 1,a,b,0"},
      {"NUL inside key", "Input:a Out\0put:movie.avi Options:x 1,a,b,0"s},
  };
  // With an older result, which must stay, and without, when none may be
  // made.
  for (const bool had_result : {true, false}) {
    for (const auto& c : cases) {
      WriteFile(dir_ / "movie.parts", c.list);
      std::error_code ignored;
      fs::remove(dir_ / "movie.jobs.part", ignored);
      if (had_result) WriteFile(dir_ / "movie.jobs.part", kOldResult);
      const RunResult run = Run({"movie.01.avi"});
      EXPECT_EQ(run.out, Transcript(Processing("movie.parts") + kNotValid))
          << c.label;
      EXPECT_EQ(run.exit_code, kFailureCode) << c.label;
      if (had_result) {
        EXPECT_EQ(ReadFile(dir_ / "movie.jobs.part"), kOldResult) << c.label;
      } else {
        EXPECT_FALSE(EntryExists(dir_ / "movie.jobs.part")) << c.label;
      }
    }
  }
}

TEST_F(BlackboxTest, ValidListWritesOrderedLines) {
  const std::string h = kHeader;
  const ListCase cases[] = {
      {"CR LF line ends",
       "Input:src.avi\r\nOutput:movie.avi\r\nOptions:x\r\n2,a,b,3000\r\n"
       "1,a,b,0\r\n",
       Script("movie", "avi", {1, 2})},
      {"no trailing line break", h + "3,a,b,9\n1,a,b,1",
       Script("movie", "avi", {1, 3})},
      {"0x1A ends the list",
       h + "1,a,b,1 2,a,b,2\x1a"
           "9\n3,a,b,0\n",
       Script("movie", "avi", {1, 2})},
      {"NUL ends a token",
       h + "2,a,b,1\n4\0,a,b,-9\n\0"
           "3,a,b,-20\n"s,
       Script("movie", "avi", {4, 2})},
      {"NUL inside Output value", "Input:a Output:mov\0ie.avi Options:x 7"s,
       Script("mov", "", {7})},
      {"equal keys keep reading order", h + "3,a,b,20\n1,a,b,10\n2,a,b,10\n",
       Script("movie", "avi", {1, 2, 3})},
      {"signed keys",
       h + "1,a,b,0\n2,a,b,-1\n3,a,b,-2147483648\n4,a,b,2147483647\n",
       Script("movie", "avi", {3, 2, 1, 4})},
      {"wrap-around numbers",
       h + "4294967297,a,b,0\n-2147483648,a,b,4294967295\n"
           "2147483649,a,b,4294967294\n",
       Script("movie", "avi", {-2147483647, -2147483648LL, 1})},
      {"entry token forms",
       h + "5\n+3,a,b,-5xyz\n0,a,b,0\nabc,x,y,z\n0,,,7\n,,8,,a,,b,,1,9\n"
           "0,a,b,3\n1, 2\n",
       Script("movie", "avi", {3, 5, 1, 2, 8, 0})},
      {"header spellings", "Input Output:movie.avi:ignored Options: 1,a,b,0",
       Script("movie", "avi", {1})},
      {"run of colons", "::Input::x ::Output:::movie.avi Options 1",
       Script("movie", "avi", {1})},
      {"drive letter in Output", "Input:a Output:c:\\clips\\m.avi Options 1",
       Script("c", "", {1})},
      {"backslashes doubled, split at the last dot",
       "Input Output:dir.old\\clips\\movie.part.avi Options 1",
       Script("dir.old\\\\clips\\\\movie.part", "avi", {1})},
      {"dot before last backslash", "Input Output:dir.old\\movie Options 1",
       Script("dir.old\\\\movie", "", {1})},
      {"leading dot is no extension", "Input Output:.avi Options 1",
       Script(".avi", "", {1})},
      {"one-character name", "Input Output:m Options 1 2,a,b,1",
       Script("m", "", {1, 2})},
      {"double quotes escaped",
       "Input Output:x\\\");Framequill.Delete(\"y.a\"vi Options 1",
       "Framequill.Open(\"x\\\\\\\");Framequill.Delete(\\\"y.1.a\\\"vi\","
       "0,0);\r\n"},
      {"empty entry table", "Input:a\nOutput:movie.avi\nOptions:x", ""},
      {"only dropped entries", h + "0,a,b,0\nabc\n", ""},
  };
  for (const auto& c : cases) {
    WriteFile(dir_ / "movie.parts", c.list);
    const RunResult run = Run({"movie.avi"});
    EXPECT_EQ(run.out, Success("movie.parts", "movie.jobs.part")) << c.label;
    EXPECT_EQ(run.exit_code, 0) << c.label;
    EXPECT_EQ(ReadFile(dir_ / "movie.jobs.part"), c.result) << c.label;
  }
}

// Tables with only two distinct keys, small and large (the sort changes
// method with the size): the lines must follow the keys and, among equal
// keys, the reading order.
TEST_F(BlackboxTest, OrderingIsStableInLargeTables) {
  for (const int size : {60, 1000}) {
    std::string list = kHeader;
    std::vector<std::int64_t> early, late;
    for (int part = 1; part <= size; ++part) {
      const bool first = part % 3 == 0;
      list += std::to_string(part) + ",host,1," + (first ? "-1" : "5") + "\n";
      (first ? early : late).push_back(part);
    }
    early.insert(early.end(), late.begin(), late.end());
    WriteFile(dir_ / "movie.parts", list);
    EXPECT_EQ(Run({"movie.avi"}).exit_code, 0) << size;
    EXPECT_EQ(ReadFile(dir_ / "movie.jobs.part"), Script("movie", "avi", early))
        << size;
  }
}

TEST_F(BlackboxTest, SuccessReplacesExistingResultFile) {
  WriteFile(dir_ / "movie.parts", kHeader + "1,a,b,0\n"s);
  WriteFile(dir_ / "movie.jobs.part", kOldResult);
  EXPECT_EQ(Run({"movie.avi"}).exit_code, 0);
  EXPECT_EQ(ReadFile(dir_ / "movie.jobs.part"), Script("movie", "avi", {1}));

  // An empty table too replaces what was there, by a new empty file.
  WriteFile(dir_ / "movie.parts", kHeader);
  WriteFile(dir_ / "movie.jobs.part", kOldResult);
  EXPECT_EQ(Run({"movie.avi"}).exit_code, 0);
  EXPECT_EQ(ReadFile(dir_ / "movie.jobs.part"), "");
}

TEST_F(BlackboxTest, ResultPathIsDirectory) {
  const std::string list = kHeader + "1,a,b,0\n"s;
  WriteFile(dir_ / "movie.parts", list);
  fs::create_directory(dir_ / "movie.jobs.part");
  const RunResult run = Run({"movie.avi"});
  EXPECT_EQ(run.out, Transcript(Processing("movie.parts") +
                                Writing("movie.jobs.part") + kCannotOpen));
  EXPECT_EQ(run.exit_code, kFailureCode);
  EXPECT_EQ(ReadFile(dir_ / "movie.parts"), list);
  EXPECT_TRUE(fs::is_directory(dir_ / "movie.jobs.part"));
}

// The lines of `text` after `marker` that are blank or indented by four
// spaces, without the indent and the blank lines at the end.
std::string IndentedBlockAfter(const std::string& text,
                               const std::string& marker) {
  std::string block;
  std::size_t at = text.find(marker);
  if (at == std::string::npos) return block;
  for (at += marker.size(); at < text.size();) {
    const std::size_t line_end = text.find("\r\n", at);
    if (line_end == std::string::npos) break;
    const std::size_t end = line_end + 2;
    const std::string line = text.substr(at, end - at);
    if (line != "\r\n" && line.rfind("    ", 0) != 0) break;
    block += line == "\r\n" ? line : line.substr(4);
    at = end;
  }
  while (block.ends_with("\r\n\r\n")) block.resize(block.size() - 2);
  return block;
}

// The Windows user's README.txt shows a parts list, a run on it and its
// result, the usage line and the error messages as KOLVA prints and writes
// them.
TEST_F(BlackboxTest, ReadmeSamplesAreReal) {
  const std::optional<std::string> readme = ReadFile(KOLVA_README);
  ASSERT_TRUE(readme);
  WriteFile(dir_ / "movie.parts",
            IndentedBlockAfter(*readme, "list of two parts:\r\n\r\n"));
  const RunResult run = Run({"movie.avi"});
  EXPECT_EQ(IndentedBlockAfter(*readme, "C:\\Clips>KOLVA movie.avi\r\n"),
            run.out);
  EXPECT_EQ(ReadFile(dir_ / "movie.jobs.part"),
            IndentedBlockAfter(*readme, "movie.jobs.part holds:\r\n\r\n"));
  const std::size_t usage = readme->find("KOLVA[.exe] <");
  ASSERT_NE(usage, std::string::npos);
  EXPECT_NE(
      Run({"/?"}).out.find(
          "\t" + readme->substr(usage, readme->find('\r', usage) - usage) +
          "\r\n"),
      std::string::npos);
  // Each message as the README lists it: the step it ends, then its first
  // line.
  const auto first_line = [](const std::string& text) {
    return text.substr(0, text.find('\n'));
  };
  const std::string reading = "Processing file: NAME... ";
  const std::string writing = "Writing result file: NAME... ";
  const std::vector<std::string> endings = {
      reading + first_line(kCannotOpen), reading + first_line(kNotValid),
      writing + first_line(kCannotOpen), writing + first_line(kCannotWrite),
      first_line(kOutOfMemory)};
  std::vector<std::string> listed;
  for (std::size_t at = 0;
       (at = readme->find("Error: ", at)) != std::string::npos; ++at) {
    const std::size_t start = readme->rfind("  ", at) + 2;
    listed.push_back(readme->substr(start, readme->find('\r', at) - start));
  }
  EXPECT_EQ(listed, endings);
}

// Cases only the Windows build can show, run under Wine. The Windows C
// runtime's text mode on standard output is covered by every transcript
// above: its bytes must carry CR LF exactly once, where text mode would give
// CR CR LF.
constexpr char kWindowsOnly[] = "needs the Windows build under Wine";

// '\\' and ':' name real folders and drives on Windows, and the lowered
// name still finds files of any case there.
TEST(WindowsTest, FolderAndDriveNamesReachFiles) {
  if (!WindowsProgram()) GTEST_SKIP() << kWindowsOnly;
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  fs::create_directory(dir / "Clips.D");
  WriteFile(dir / "Clips.D/Movie.parts", kHeader + "1,a,b,0\n"s);
  const std::string drive = WindowsPath(dir.path());
  const struct {
    std::string arg, parts_name, result_name;
  } cases[] = {
      {"Clips.D\\Movie.AVI", "clips.d\\movie.parts",
       "clips.d\\movie.jobs.part"},
      {"clips.d\\movie", "clips.d\\movie.parts", "clips.d\\movie.jobs.part"},
      {drive + "\\CLIPS.D\\Movie.01.AVI",
       AsciiLower(drive) + "\\clips.d\\movie.parts",
       AsciiLower(drive) + "\\clips.d\\movie.jobs.part"},
  };
  for (const auto& c : cases) {
    std::error_code ignored;
    fs::remove(dir / "Clips.D/movie.jobs.part", ignored);
    const RunResult run = RunIn(dir.path(), {c.arg});
    EXPECT_EQ(run.out, Success(c.parts_name, c.result_name)) << c.arg;
    EXPECT_EQ(run.exit_code, 0) << c.arg;
    EXPECT_EQ(ReadFile(dir / "Clips.D/movie.jobs.part"),
              Script("movie", "avi", {1}))
        << c.arg;
  }
}

// Windows lowers every letter of the ANSI code page in the argument, not only
// A to Z. Wine takes the code page from the locale of its process: C.UTF-8,
// which every Debian system has, gives code page 1252, in which the
// redirected messages show the lowered name. File names on disk are UTF-8.
TEST(WindowsTest, CodePageLettersAreLowered) {
  if (!WindowsProgram()) GTEST_SKIP() << kWindowsOnly;
  // A-umlaut, O-umlaut, U-umlaut, E-acute, S-caron, OE, Y-diaeresis, then the
  // multiplication sign and sharp s, which have no lower-case form.
  const std::string arg =
      "\xC3\x84\xC3\x96\xC3\x9C\xC3\x89\xC5\xA0\xC5\x92\xC5\xB8\xC3\x97\xC3"
      "\x9F.AVI";
  const std::string cp1252 = "\xE4\xF6\xFC\xE9\x9A\x9C\xFF\xD7\xDF";
  const std::string utf8 =
      "\xC3\xA4\xC3\xB6\xC3\xBC\xC3\xA9\xC5\xA1\xC5\x93\xC3\xBF\xC3\x97\xC3"
      "\x9F";
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());

  RunOptions utf8_locale;
  utf8_locale.env = {"LC_ALL=C.UTF-8"};
  RunResult run = RunIn(dir.path(), {arg}, utf8_locale);
  EXPECT_EQ(run.out, Transcript(Processing(cp1252 + ".parts") + kCannotOpen));
  EXPECT_EQ(run.exit_code, kFailureCode);

  // The lowered name opens the list of that name and writes the result beside.
  WriteFile(dir / (utf8 + ".parts"), kHeader + "1,a,b,0\n"s);
  run = RunIn(dir.path(), {arg}, utf8_locale);
  EXPECT_EQ(run.out, Success(cp1252 + ".parts", cp1252 + ".jobs.part"));
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(ReadFile(dir / (utf8 + ".jobs.part")), Script("movie", "avi", {1}));
}

// The argument is taken as Windows holds it, in UTF-16: a name reaches the
// file of exactly that name, whatever its letters and its length, never one
// that a look-alike in the ANSI code page (here 1252) names; the messages
// show a letter that the code page lacks as '?'. The rules still count a
// name as the code page writes it: "é.avi" is too short for ".avi" there.
TEST(WindowsTest, NamesReachExactlyTheFileNamed) {
  if (!WindowsProgram()) GTEST_SKIP() << kWindowsOnly;
  std::string deep;  // Five folders of 110 letters: a path of 600 or more.
  for (const char letter : {'a', 'b', 'c', 'd', 'e'}) {
    deep += std::string(110, letter) + "\\";
  }
  std::string deep_file = deep;
  std::replace(deep_file.begin(), deep_file.end(), '\\', '/');
  const std::string tokyo = "\xE6\x9D\xB1\xE4\xBA\xAC";
  RunOptions cp1252;
  cp1252.env = {"LC_ALL=C.UTF-8"};
  CheckNaming(
      {
          {"\xCE\xA9mega.avi", "?mega.parts", "?mega.jobs.part",
           "\xCE\xA9mega.parts", "\xCF\x89mega.jobs.part"},
          // A fullwidth backslash and a fullwidth quote are letters.
          {"a\xEF\xBC\xBC"
           "b.avi",
           "a?b.parts", "a?b.jobs.part",
           "a\xEF\xBC\xBC"
           "b.parts",
           "a\xEF\xBC\xBC"
           "b.jobs.part"},
          {"a\xEF\xBC\x82"
           "b.avi",
           "a?b.parts", "a?b.jobs.part",
           "a\xEF\xBC\x82"
           "b.parts",
           "a\xEF\xBC\x82"
           "b.jobs.part"},
          {"\xC3\xA9.avi", "\xE9.avi.parts", "\xE9.jobs.part",
           "\xC3\xA9.avi.parts", "\xC3\xA9.jobs.part"},
          {"<dir>\\" + tokyo + "\\Movie.avi", "<dir>\\??\\movie.parts",
           "<dir>\\??\\movie.jobs.part", tokyo + "/movie.parts",
           tokyo + "/movie.jobs.part"},
          {"<dir>\\" + deep + "movie.avi", "<dir>\\" + deep + "movie.parts",
           "<dir>\\" + deep + "movie.jobs.part", deep_file + "movie.parts",
           deep_file + "movie.jobs.part"},
      },
      cp1252);
}

// Options for runs in a Japanese locale, in which Wine takes code page 932,
// made in `dir` by localedef; none where the system cannot make it.
std::optional<RunOptions> JapaneseLocale(const TempDir& dir) {
  const std::string locales = dir / "locales";
  fs::create_directory(locales);
  RunOptions quiet;
  quiet.drop_errors = true;
  RunCommandIn(
      dir.path(),
      {"localedef", "-i", "ja_JP", "-f", "UTF-8", locales + "/ja_JP.UTF-8"},
      quiet);
  if (!fs::exists(locales + "/ja_JP.UTF-8/LC_CTYPE")) return std::nullopt;
  RunOptions japanese;
  japanese.env = {"LC_ALL=ja_JP.UTF-8", "LOCPATH=" + locales};
  return japanese;
}

constexpr char kNoJapaneseLocale[] =
    "localedef cannot make the locale ja_JP.UTF-8 here (Debian's locales "
    "has its source)";

// In code page 932 a letter counts two bytes, and the second byte of KATAKANA
// SO is 0x5C, the byte of '\\', which must not end the name's last extension.
TEST(WindowsTest, DoubleByteCodePageNames) {
  if (!WindowsProgram()) GTEST_SKIP() << kWindowsOnly;
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  const std::optional<RunOptions> japanese = JapaneseLocale(dir);
  if (!japanese) GTEST_SKIP() << kNoJapaneseLocale;
  const std::string so = "\xE3\x82\xBD";
  CheckNaming({{"a.b" + so, "a.b\x83\x5C.parts", "a.jobs.part",
                "a.b" + so + ".parts", "a.jobs.part"},
               {so + ".avi", "\x83\x5C.parts", "\x83\x5C.jobs.part",
                so + ".parts", so + ".jobs.part"}},
              *japanese);
}

// What a terminal was sent, without its control sequences (ESC [, then
// parameters, then a letter): the text that it shows, as drawn.
std::string WithoutControlSequences(const std::string& sent) {
  std::string shown;
  for (std::size_t at = 0; at < sent.size(); ++at) {
    if (sent.compare(at, 2, "\x1b[") != 0) {
      shown += sent[at];
      continue;
    }
    at += 2;
    while (at < sent.size() &&
           !std::isalpha(static_cast<unsigned char>(sent[at]))) {
      ++at;
    }
  }
  return shown;
}

// Wine shows a console window on a terminal, in the terminal's UTF-8. A
// window shows every letter of a name; files and pipes get the ANSI bytes,
// as the other tests show.
TEST(WindowsTest, ConsoleWindowShowsTheLettersOfTheName) {
  if (!WindowsProgram()) GTEST_SKIP() << kWindowsOnly;
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  RunOptions console;
  console.terminal = true;
  console.env = {"LC_ALL=C.UTF-8"};
  // U-umlaut, lowered to u-umlaut: the byte 0xFC in code page 1252, which a
  // window in its own code page 437 or 850 would show as another letter;
  // and omega, which code page 1252 lacks.
  const struct {
    std::string arg, shown;
  } cases[] = {{"\303\234bungen", "\303\274bungen.parts"},
               {"\316\251mega", "\317\211mega.parts"}};
  for (const auto& c : cases) {
    const RunResult run = RunIn(dir.path(), {c.arg}, console);
    EXPECT_NE(WithoutControlSequences(run.out).find(c.shown), std::string::npos)
        << run.out;
  }

  // Names are held in UTF-8, three bytes for each of these letters: none may
  // be cut in two where the text is written to the window in pieces, here in
  // code page 932. Pieces of 1024 bytes cut one of the two names inside a
  // letter, whatever the banner's length.
  const std::optional<RunOptions> japanese = JapaneseLocale(dir);
  if (!japanese) GTEST_SKIP() << kNoJapaneseLocale;
  console.env = japanese->env;
  const std::string sun = "\xE6\x97\xA5";  // The letter "sun", in UTF-8.
  std::string name;
  for (int i = 0; i < 700; ++i) name += sun;
  for (const std::string& arg : {name, "a" + name}) {
    std::string shown =
        WithoutControlSequences(RunIn(dir.path(), {arg}, console).out);
    for (std::size_t at; (at = shown.find(sun)) != std::string::npos;) {
      shown.erase(at, sun.size());
    }
    EXPECT_TRUE(std::all_of(shown.begin(), shown.end(),
                            [](char c) { return (c & 0x80) == 0; }))
        << arg.size() << " bytes: " << shown;
  }
}

// The failure status is -1: a Windows caller sees all bits set, which the
// command interpreter shows as %ERRORLEVEL% -1. Linux keeps only the low
// byte (255), so only a Windows program can tell -1 from 255.
TEST(WindowsTest, CallerSeesStatusMinusOne) {
  if (!WindowsProgram()) GTEST_SKIP() << kWindowsOnly;
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  WriteFile(dir / "movie.parts", kHeader + "1,a,b,0\n"s);
  const std::string kolva = "@\"" + WindowsPath(CommandPrefix().back()) + "\" ";
  WriteFile(dir / "status.bat",
            kolva + "movie.avi\r\n@echo status %ERRORLEVEL%\r\n" + kolva +
                "missing.avi\r\n@echo status %ERRORLEVEL%\r\n");
  std::vector<std::string> words = CommandPrefix();
  words.back() = "cmd";
  words.insert(words.end(), {"/c", "status.bat"});
  const RunResult run = RunRetryingFailedStart(dir.path(), words);
  EXPECT_EQ(run.out, Success("movie.parts", "movie.jobs.part") +
                         "status 0\r\n" +
                         Transcript(Processing("missing.parts") + kCannotOpen) +
                         "status -1\r\n");
}

// A result that another program holds open without delete sharing (here the
// command interpreter, which gives KOLVA the file as standard input) cannot
// be replaced: the run says so and leaves the old result, and no temporary
// file, behind.
TEST(WindowsTest, ResultHeldOpenElsewhereIsKept) {
  if (!WindowsProgram()) GTEST_SKIP() << kWindowsOnly;
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  WriteFile(dir / "movie.parts", kHeader + "1,a,b,0\n"s);
  WriteFile(dir / "movie.jobs.part", kOldResult);
  WriteFile(dir / "held.bat", "@\"" + WindowsPath(CommandPrefix().back()) +
                                  "\" movie.avi < movie.jobs.part\r\n");
  std::vector<std::string> words = CommandPrefix();
  words.back() = "cmd";
  words.insert(words.end(), {"/c", "held.bat"});
  const RunResult run = RunCommandIn(dir.path(), words);
  EXPECT_EQ(run.out, AfterReading(kCannotWrite));
  EXPECT_EQ(ReadFile(dir / "movie.jobs.part"), kOldResult);
  EXPECT_EQ(
      SortedNames(dir.path()),
      (std::vector<std::string>{"held.bat", "movie.jobs.part", "movie.parts"}));
}

}  // namespace
}  // namespace kolva_test

int main(int argc, char** argv) { return kolva_test::RunTests(argc, argv); }

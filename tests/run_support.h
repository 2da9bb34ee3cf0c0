// What the drivers that run the built KOLVA executable share: the command
// that starts it, the console texts it prints, scratch folders and files, and
// one runner that captures a run's output and how it ended.
#ifndef TESTS_RUN_SUPPORT_H_
#define TESTS_RUN_SUPPORT_H_

#include <sys/resource.h>
#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kolva_test {

// Console texts as the program composes them; every "\n" reaches the
// console as CR LF, which Crlf() applies to a whole expected transcript. The
// banner's version and description come from the build, as the program's do.
inline constexpr char kBanner[] =
    "\nKOLVA, ver. " KOLVA_VERSION ".\n" KOLVA_DESCRIPTION ".\n";
inline constexpr char kCannotOpen[] =
    "Error: cannot open file.\nProgram cannot continue";
inline constexpr char kNotValid[] =
    "Error: this dosn't appear to be a valid .parts file.\n"
    "Program cannot continue";
inline constexpr char kCannotWrite[] =
    "Error: cannot write file.\nProgram cannot continue";
inline constexpr char kOutOfMemory[] =
    "Error: out of memory.\nProgram cannot continue";
inline constexpr char kDone[] =
    "Done.\n\nReplace 'Framequill.Open(\"path\\file.avi\",0,0);' line in "
    "your .jobs file\nwith the contents of the result file and then run your "
    "job.\n\nEnjoy!\n";

inline constexpr int kFailureCode = 255;  // Status -1 as the process exit code.

// A list header naming "movie.avi", and a result file's bytes from an earlier
// run, for checking that a failed run leaves it alone.
inline constexpr char kHeader[] =
    "Input:src.avi\nOutput:movie.avi\nOptions:x\n";
inline constexpr char kOldResult[] =
    "previous result\r\nkept until a valid run\r\n";

// The command that starts KOLVA: the executable, maybe after a runner. Empty
// until RunTests() has read it from the command line.
const std::vector<std::string>& CommandPrefix();

// True when KOLVA runs under a runner: Wine for a Windows build, an emulator
// such as qemu-i386 for a Linux build of another architecture.
bool RunnerUsed();

// True when KOLVA is a Windows program (it starts with "MZ"), which runs
// under Wine; false for a Linux program, with or without a runner.
bool WindowsProgram();

// `text` with a CR put before every LF, as the console receives it.
std::string Crlf(const std::string& text);

// The line that opens the work on the list `parts_name`.
std::string Processing(const std::string& parts_name);

// The "OK" for a list that was read, then the start of writing `result_name`.
std::string Writing(const std::string& result_name);

// Expected console bytes of a run that got past the argument check: the
// banner, then `tail`, all with CR LF line ends.
std::string Transcript(const std::string& tail);

// Expected console bytes of a run of "movie.avi" that got past reading the
// list: the banner, reading movie.parts, writing movie.jobs.part, `ending`.
std::string AfterReading(const std::string& ending);

// Where two long texts part, with a little of each, instead of printing
// megabytes when they differ; empty when they are equal.
std::string Difference(const std::string& actual, const std::string& expected);

// Expected result bytes: one open line and then append lines for `parts` in
// the order given, with `stem` and `ext` as they appear inside the script's
// string literal.
std::string Script(const std::string& stem, const std::string& ext,
                   const std::vector<std::int64_t>& parts);

// A parts list and the result bytes a successful run on it writes; `label`
// names the case in failure messages.
struct ListCase {
  const char* label;
  std::string list;
  std::string result;
};

// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes away. Links inside are removed,
// never followed. path() is empty if the directory could not be made.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // The path of `name` inside the directory.
  std::string operator/(const std::string& name) const {
    return path_ + "/" + name;
  }

 private:
  std::string path_;
};

// Makes or replaces the file `path` with exactly `bytes`; a fatal test
// failure if it cannot.
void WriteFile(const std::string& path, const std::string& bytes);

// The file's bytes, or nothing when it cannot be read.
std::optional<std::string> ReadFile(const std::string& path);

// The names in the directory `dir`, sorted.
std::vector<std::string> SortedNames(const std::string& dir);

// True when `path` names anything, a dangling link included.
bool EntryExists(const std::string& path);

// How a run may differ from a plain one.
struct RunOptions {
  // "NAME=value" entries added to the environment.
  std::vector<std::string> env;
  // Cap on the address space in bytes; 0 for none.
  rlim_t address_limit = 0;
  // Sends standard error to /dev/null rather than the driver's own.
  bool drop_errors = false;
  // Cap on the size of any file the program writes, in bytes; 0 for none.
  rlim_t file_size_limit = 0;
  // Standard output is a pipe that nobody reads, so writing to it fails.
  bool close_output = false;
  // When the driver runs as root, the program runs as the user "nobody",
  // for whom file permissions count.
  bool unprivileged = false;
  // Ends the program with SIGALRM after this many seconds; 0 for never.
  unsigned timeout_seconds = 0;
  // The program starts with standard input closed.
  bool close_input = false;
  // Standard output is a terminal (a pseudo-terminal in a session of its
  // own), and the output read is what the terminal was sent.
  bool terminal = false;
};

struct RunResult {
  int exit_code = -1;  // -1 when the program did not end by itself.
  int signal = 0;      // The signal that ended it, if one did.
  std::string out;     // Every byte written to standard output.
};

// A program that was started and may still run, with the standard output
// read from it so far.
struct Started {
  pid_t pid = -1;
  int output = -1;  // Read end of its standard output, or -1.
  std::string out;
};

// Starts the command `words` (looked up in PATH unless it holds a slash) in
// `dir`, with standard input from /dev/null, standard output captured, core
// dumps off and `options` applied.
Started StartCommandIn(const std::string& dir, std::vector<std::string> words,
                       const RunOptions& options = {});

// Starts KOLVA, after the command prefix, with `args` in `dir`.
Started StartIn(const std::string& dir, const std::vector<std::string>& args,
                const RunOptions& options = {});

// Reads the started program's output until it holds `text`. Returns false if
// the output ended first.
bool ReadUntil(Started* started, const std::string& text);

// Reads the rest of the output and waits for the program to end.
RunResult Finish(Started* started);

// Runs the command `words` as StartCommandIn() does and waits for it to end.
RunResult RunCommandIn(const std::string& dir, std::vector<std::string> words,
                       const RunOptions& options = {});

// Runs the command as RunCommandIn() does, but under a runner starts it once
// more when the runner failed to start it: Wine now and then ends a run with
// exit code 1 and no output at all, which is no outcome of KOLVA or of the
// command interpreter, since both print something first. Each such retry is
// reported on standard error and counted; a second failure stands.
RunResult RunRetryingFailedStart(const std::string& dir,
                                 const std::vector<std::string>& words,
                                 const RunOptions& options = {});

// Runs KOLVA, after the command prefix, with `args` in `dir`, as
// RunRetryingFailedStart() does.
RunResult RunIn(const std::string& dir, const std::vector<std::string>& args,
                const RunOptions& options = {});

// The body of a driver's main(): takes the GoogleTest flags, then the
// command prefix `[runner...] path/to/KOLVA` from the rest of the command
// line, and runs every test. Returns the tests' exit status, or 2 with a
// message on standard error when the command line names no KOLVA that exists
// or, under a runner, when KOLVA run with no argument does not print its
// banner. Under a runner, it reports on standard error how many failed
// starts were retried.
int RunTests(int argc, char** argv);

}  // namespace kolva_test

#endif  // TESTS_RUN_SUPPORT_H_

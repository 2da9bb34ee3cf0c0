// The shared parts of the drivers that run the built KOLVA executable: see
// run_support.h.

#include "run_support.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>
#include <utility>

#include "gtest/gtest.h"

namespace kolva_test {
namespace {

namespace fs = std::filesystem;

std::vector<std::string>& MutableCommandPrefix() {
  static auto* prefix = new std::vector<std::string>;
  return *prefix;
}

// The number of runs that a runner failed to start and that were retried.
int& FailedStarts() {
  static int count = 0;
  return count;
}

// True when the runner did not start the program at all: exit code 1 and
// not one byte of output. Without a runner no such run is told apart.
bool FailedToStart(const RunResult& run) {
  return RunnerUsed() && run.signal == 0 && run.exit_code == 1 &&
         run.out.empty();
}

// Runs KOLVA with no argument and checks that it prints its banner, which
// shows that the runner runs it at all: 64-bit Wine without its 32-bit part
// ends a 32-bit program at once with exit code 0 and no output. Returns
// false, with a message on standard error, when the banner is missing.
bool RunnerRunsKolva() {
  const TempDir dir;
  const RunResult run = RunIn(dir.path(), {});
  if (run.out.rfind(Crlf(kBanner), 0) == 0) return true;
  std::fprintf(stderr,
               "%s printed no banner under %s (exit code %d, %zu bytes of "
               "output)%s\n",
               CommandPrefix().back().c_str(), CommandPrefix().front().c_str(),
               run.exit_code, run.out.size(),
               WindowsProgram() ? "; a 32-bit Windows program needs Wine's "
                                  "32-bit part (Debian's wine32:i386)"
                                : "");
  return false;
}

// Opens a pseudo-terminal: `fds[0]` its side to read what was written to
// it, `fds[1]` the terminal itself. Returns false if none can be opened.
bool OpenTerminal(int fds[2]) {
  const int reader = posix_openpt(O_RDWR | O_NOCTTY);
  if (reader < 0) return false;
  const char* const name =
      grantpt(reader) == 0 && unlockpt(reader) == 0 ? ptsname(reader) : nullptr;
  const int terminal = name == nullptr ? -1 : open(name, O_RDWR | O_NOCTTY);
  if (terminal < 0) {
    close(reader);
    return false;
  }
  fds[0] = reader;
  fds[1] = terminal;
  return true;
}

}  // namespace

const std::vector<std::string>& CommandPrefix() {
  return MutableCommandPrefix();
}

bool RunnerUsed() { return CommandPrefix().size() > 1; }

bool WindowsProgram() {
  std::ifstream program(CommandPrefix().back(), std::ios::binary);
  char magic[2] = {};
  return program.read(magic, sizeof magic) && magic[0] == 'M' &&
         magic[1] == 'Z';
}

std::string Crlf(const std::string& text) {
  std::string out;
  for (const char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

std::string Processing(const std::string& parts_name) {
  return "\nProcessing file: " + parts_name + "... ";
}

std::string Writing(const std::string& result_name) {
  return "OK\nWriting result file: " + result_name + "... ";
}

std::string Transcript(const std::string& tail) { return Crlf(kBanner + tail); }

std::string AfterReading(const std::string& ending) {
  return Transcript(Processing("movie.parts") + Writing("movie.jobs.part") +
                    ending);
}

std::string Difference(const std::string& actual, const std::string& expected) {
  if (actual == expected) return "";
  const auto mismatch = std::mismatch(actual.begin(), actual.end(),
                                      expected.begin(), expected.end());
  const auto at = static_cast<std::size_t>(mismatch.first - actual.begin());
  const std::size_t from = at < 40 ? 0 : at - 40;
  return "sizes " + std::to_string(actual.size()) + " and " +
         std::to_string(expected.size()) + ", first difference at byte " +
         std::to_string(at) + ":\n  actual   \"" + actual.substr(from, 80) +
         "\"\n  expected \"" + expected.substr(from, 80) + "\"";
}

std::string Script(const std::string& stem, const std::string& ext,
                   const std::vector<std::int64_t>& parts) {
  std::string out;
  for (const std::int64_t part : parts) {
    const std::string name = stem + "." + std::to_string(part) + "." + ext;
    out += out.empty() ? "Framequill.Open(\"" + name + "\",0,0);\r\n"
                       : "Framequill.Append(\"" + name + "\");\r\n";
  }
  return out;
}

TempDir::TempDir() {
  std::string templ =
      (fs::temp_directory_path() / "kolva_test_XXXXXX").string();
  if (mkdtemp(templ.data()) != nullptr) path_ = templ;
}

TempDir::~TempDir() {
  std::error_code ignored;
  if (!path_.empty()) fs::remove_all(path_, ignored);
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  ASSERT_TRUE(out.good()) << "cannot write " << path;
}

std::optional<std::string> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> SortedNames(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

bool EntryExists(const std::string& path) {
  return fs::exists(fs::symlink_status(path));
}

Started StartCommandIn(const std::string& dir, std::vector<std::string> words,
                       const RunOptions& options) {
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  // putenv() takes the strings themselves into the environment, so they are
  // copied here, before the fork; the user is looked up here too.
  std::vector<std::string> env = options.env;
  const passwd* const nobody =
      options.unprivileged && geteuid() == 0 ? getpwnam("nobody") : nullptr;
  const uid_t user = nobody == nullptr ? 0 : nobody->pw_uid;
  const gid_t group = nobody == nullptr ? 0 : nobody->pw_gid;

  Started started;
  int fds[2];
  if (options.terminal ? !OpenTerminal(fds) : pipe(fds) != 0) return started;
  const pid_t pid = fork();
  if (pid == 0) {
    // A session of its own, in which the terminal is the controlling one.
    if (options.terminal &&
        (setsid() < 0 || ioctl(fds[1], TIOCSCTTY, 0) != 0)) {
      _exit(127);
    }
    for (std::string& entry : env) putenv(entry.data());
    const rlimit no_core = {0, 0};
    const rlimit address_space = {options.address_limit, options.address_limit};
    const rlimit file_size = {options.file_size_limit, options.file_size_limit};
    const int null_fd = open("/dev/null", O_RDONLY);
    if (chdir(dir.c_str()) != 0 || null_fd < 0 ||
        dup2(null_fd, STDIN_FILENO) < 0 || dup2(fds[1], STDOUT_FILENO) < 0 ||
        (options.drop_errors &&
         dup2(open("/dev/null", O_WRONLY), STDERR_FILENO) < 0) ||
        setrlimit(RLIMIT_CORE, &no_core) != 0 ||
        (options.address_limit != 0 &&
         setrlimit(RLIMIT_AS, &address_space) != 0) ||
        (options.file_size_limit != 0 &&
         setrlimit(RLIMIT_FSIZE, &file_size) != 0) ||
        (nobody != nullptr && (setgroups(0, nullptr) != 0 ||
                               setgid(group) != 0 || setuid(user) != 0))) {
      _exit(127);
    }
    close(fds[0]);
    close(fds[1]);
    if (null_fd != STDIN_FILENO) close(null_fd);
    if (options.close_input) close(STDIN_FILENO);
    // The driver's own SIGPIPE is ignored (RunTests).
    std::signal(SIGPIPE, SIG_DFL);
    alarm(options.timeout_seconds);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  close(fds[1]);
  started.pid = pid;
  started.output = fds[0];
  if (options.close_output) {
    close(started.output);
    started.output = -1;
  }
  return started;
}

Started StartIn(const std::string& dir, const std::vector<std::string>& args,
                const RunOptions& options) {
  std::vector<std::string> words = CommandPrefix();
  words.insert(words.end(), args.begin(), args.end());
  return StartCommandIn(dir, std::move(words), options);
}

namespace {

// Reads one piece of output into `started->out`. Returns false at its end.
bool ReadSome(Started* started) {
  if (started->output < 0) return false;
  char buffer[4096];
  for (;;) {
    const ssize_t got = read(started->output, buffer, sizeof buffer);
    if (got > 0) {
      started->out.append(buffer, static_cast<size_t>(got));
      return true;
    }
    if (got < 0 && errno == EINTR) continue;
    close(started->output);
    started->output = -1;
    return false;
  }
}

}  // namespace

bool ReadUntil(Started* started, const std::string& text) {
  while (started->out.find(text) == std::string::npos) {
    if (!ReadSome(started)) return false;
  }
  return true;
}

RunResult Finish(Started* started) {
  while (ReadSome(started)) {
  }
  RunResult result;
  result.out = std::move(started->out);
  int status = 0;
  if (started->pid > 0 && waitpid(started->pid, &status, 0) == started->pid) {
    if (WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  }
  started->pid = -1;
  return result;
}

RunResult RunCommandIn(const std::string& dir, std::vector<std::string> words,
                       const RunOptions& options) {
  Started started = StartCommandIn(dir, std::move(words), options);
  return Finish(&started);
}

RunResult RunRetryingFailedStart(const std::string& dir,
                                 const std::vector<std::string>& words,
                                 const RunOptions& options) {
  RunResult run = RunCommandIn(dir, words, options);
  if (FailedToStart(run)) {
    ++FailedStarts();
    std::string command;
    for (const std::string& word : words) command += " " + word;
    std::fprintf(stderr, "failed start, retrying:%s (in %s)\n", command.c_str(),
                 dir.c_str());
    run = RunCommandIn(dir, words, options);
  }
  return run;
}

RunResult RunIn(const std::string& dir, const std::vector<std::string>& args,
                const RunOptions& options) {
  std::vector<std::string> words = CommandPrefix();
  words.insert(words.end(), args.begin(), args.end());
  return RunRetryingFailedStart(dir, words, options);
}

int RunTests(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s [gtest flags] [runner...] path/to/KOLVA\n",
                 argv[0]);
    return 2;
  }
  // Relative paths that name existing files are made absolute, since every
  // run changes into its own directory; other names are left for PATH.
  std::vector<std::string>& prefix = MutableCommandPrefix();
  for (int i = 1; i < argc; ++i) {
    std::string word = argv[i];
    if (!fs::path(word).is_absolute() && fs::exists(word)) {
      word = fs::absolute(word).string();
    }
    prefix.push_back(word);
  }
  if (!fs::exists(prefix.back())) {
    std::fprintf(stderr, "KOLVA executable not found: %s\n", argv[argc - 1]);
    return 2;
  }
  // A program that ends early makes a write to its input fail, which the
  // test reports, instead of ending the driver.
  std::signal(SIGPIPE, SIG_IGN);
  if (RunnerUsed() && !RunnerRunsKolva()) return 2;
  const int status = RUN_ALL_TESTS();
  if (RunnerUsed()) {
    std::fprintf(stderr, "failed starts under %s retried: %d\n",
                 prefix.front().c_str(), FailedStarts());
  }
  return status;
}

}  // namespace kolva_test

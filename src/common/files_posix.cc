// The POSIX side of the file code: see files_platform.h. The result's folder
// is opened once and every file in it is reached relative to it.
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>

#include "common/files.h"
#include "common/files_platform.h"

namespace {

// A descriptor for the folder that serves the *at calls alone: where the
// system has O_PATH, a folder the user may search but not list works too.
#ifdef O_PATH
constexpr int kFolderAccess = O_PATH;
#else
constexpr int kFolderAccess = O_RDONLY;
#endif

// The bits of a new result: 0666 less the umask.
constexpr mode_t kNewFileBits = 0666;

const char* FileName(const ResultFile& result) {
  return result.name.c_str() + result.file_start;
}

const char* TemporaryFileName(const ResultFile& result) {
  return result.temporary_name.c_str() + result.file_start;
}

// Reads `size` bytes from /dev/urandom, for systems without getrandom().
bool ReadRandomDevice(void* buffer, std::size_t size) {
  const int device = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
  if (device < 0) return false;
  const bool read_all =
      read(device, buffer, size) == static_cast<ssize_t>(size);
  close(device);
  return read_all;
}

}  // namespace

void SetUpProcessOutput() {
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
}

StandardOutput OpenStandardOutput() {
  StandardOutput output;
  output.stream = stdout;
  return output;
}

bool WriteToStandardOutput(void* output, const char* data, std::size_t size) {
  return WriteToStream(static_cast<StandardOutput*>(output)->stream, data,
                       size);
}

std::size_t FileNameStart(const std::string& name) {
  // Only '/' ends a folder here. No folder part gives npos, and npos + 1
  // is 0.
  return name.rfind('/') + 1;
}

// Files are reached relative to their open folder, so a path of any length
// whose file name fits has room for the temporary name.
std::size_t FileNamePrefix(std::string_view file_name, std::size_t room) {
  return std::min(file_name.size(), room);
}

std::FILE* OpenForReading(const std::string& name) {
  return std::fopen(name.c_str(), "rb");
}

bool DescribeOpenFile(std::FILE* file, bool* folder, std::uint64_t* size) {
  struct stat info;
  if (fstat(fileno(file), &info) != 0) return false;
  *folder = S_ISDIR(info.st_mode);
  *size = info.st_size > 0 ? static_cast<std::uint64_t>(info.st_size) : 0;
  return true;
}

bool OpenFolder(ResultFile* result) {
  result->folder_descriptor =
      open(result->folder.c_str(), kFolderAccess | O_DIRECTORY | O_CLOEXEC);
  return result->folder_descriptor >= 0;
}

void CloseFolder(ResultFile* result) {
  if (result->folder_descriptor >= 0) close(result->folder_descriptor);
  result->folder_descriptor = -1;
}

bool MayReplace(const ResultFile& result, int* permissions) {
  *permissions = -1;
  const int folder = result.folder_descriptor;
  struct stat info;
  if (fstatat(folder, FileName(result), &info, AT_SYMLINK_NOFOLLOW) != 0) {
    return errno == ENOENT;
  }
  if (S_ISLNK(info.st_mode)) {
    // The link is replaced, but the result gets no more than the file it
    // pointed to granted; a dangling link gives the default.
    if (fstatat(folder, FileName(result), &info, 0) == 0 &&
        S_ISREG(info.st_mode)) {
      *permissions = static_cast<int>(info.st_mode & 0777);
    }
    return true;
  }
  if (!S_ISREG(info.st_mode)) return false;
  if (faccessat(folder, FileName(result), W_OK, 0) != 0) return false;
  // Neither setuid nor setgid: the new file belongs to the runner.
  *permissions = static_cast<int>(info.st_mode & 0777);
  return true;
}

bool RandomNumber(std::uint32_t* value) {
  // GRND_NONBLOCK: early in boot, before the pool is ready, /dev/urandom
  // serves instead of a wait.
  if (getrandom(value, sizeof *value, GRND_NONBLOCK) ==
      static_cast<ssize_t>(sizeof *value)) {
    return true;
  }
  return ReadRandomDevice(value, sizeof *value);
}

int CreateNew(const ResultFile& result, int permissions) {
  // The final bits are the most the file has from its first moment: the
  // umask can only narrow them, and fchmod() then sets them exactly. Should
  // that fail, the file keeps the narrower bits.
  const mode_t bits =
      permissions < 0 ? kNewFileBits : static_cast<mode_t>(permissions);
  const int descriptor =
      openat(result.folder_descriptor, TemporaryFileName(result),
             O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, bits);
  if (descriptor >= 0 && permissions >= 0) fchmod(descriptor, bits);
  return descriptor;
}

bool WriteAll(int descriptor, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t written = write(descriptor, data, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

bool CloseDescriptor(int descriptor) { return close(descriptor) == 0; }

bool RenameOver(const ResultFile& result) {
  // A plain rename and never a swap of the two names: over an existing file
  // it makes the file system (ext4 by default) write out the new file first,
  // so that after a power cut the result name holds the old or the complete
  // new file, and a folder that appeared at the name is refused (EISDIR)
  // instead of being moved aside under the temporary name.
  return renameat(result.folder_descriptor, TemporaryFileName(result),
                  result.folder_descriptor, FileName(result)) == 0;
}

void RemoveTemporary(const ResultFile& result) {
  unlinkat(result.folder_descriptor, TemporaryFileName(result), 0);
}

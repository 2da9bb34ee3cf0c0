// The POSIX side of the file code: see files_platform.h.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>

#include "common/files.h"
#include "common/files_platform.h"

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
  // No folder part gives npos, and npos + 1 is 0.
  return name.rfind('/') + 1;
}

std::size_t PathLimitCut(const std::string&, std::size_t) { return 0; }

bool DescribeOpenFile(std::FILE* file, bool* folder, std::uint64_t* size) {
  struct stat info;
  if (fstat(fileno(file), &info) != 0) return false;
  *folder = S_ISDIR(info.st_mode);
  *size = info.st_size > 0 ? static_cast<std::uint64_t>(info.st_size) : 0;
  return true;
}

bool OpenFolder(ResultFile*) { return true; }

void CloseFolder(ResultFile*) {}

bool MayReplace(const ResultFile& result, int* permissions) {
  *permissions = -1;
  struct stat info;
  if (lstat(result.name.c_str(), &info) != 0) return errno == ENOENT;
  if (S_ISLNK(info.st_mode)) return true;
  if (!S_ISREG(info.st_mode)) return false;
  if (access(result.name.c_str(), W_OK) != 0) return false;
  *permissions = static_cast<int>(info.st_mode & 0777);
  return true;
}

std::uint32_t ProcessNumber() { return static_cast<std::uint32_t>(getpid()); }

int CreateNew(const ResultFile& result, int permissions) {
  const int descriptor = open(result.temporary_name.c_str(),
                              O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  // Gives the new file the old one's bits, which the umask applied by open()
  // could otherwise narrow. Should this fail, the new file keeps the default
  // bits: a result is still better written than refused for them.
  if (descriptor >= 0 && permissions >= 0) {
    fchmod(descriptor, static_cast<mode_t>(permissions));
  }
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
  return std::rename(result.temporary_name.c_str(), result.name.c_str()) == 0;
}

void RemoveTemporary(const ResultFile& result) {
  unlink(result.temporary_name.c_str());
}

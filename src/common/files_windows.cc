// The Windows side of the file code: see files_platform.h.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <sys/stat.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>

#include "common/files.h"
#include "common/files_platform.h"

namespace {

// Longest path the plain file functions take (MAX_PATH less the final zero).
constexpr std::size_t kMaxPath = 259;

// Length of the full path that `name` names, or of `name` itself if the
// system cannot tell.
std::size_t FullPathLength(const std::string& name) {
  const DWORD needed = GetFullPathNameA(name.c_str(), 0, nullptr, nullptr);
  // The count includes the final zero.
  return needed == 0 ? name.size() : needed - 1;
}

}  // namespace

void SetUpProcessOutput() { _setmode(_fileno(stdout), _O_BINARY); }

std::size_t FileNameStart(const std::string& name) {
  // No folder part gives npos, and npos + 1 is 0.
  return name.find_last_of("\\/:") + 1;
}

std::size_t PathLimitCut(const std::string& name, std::size_t growth) {
  // A relative name counts with the current folder in front of it.
  const std::size_t full_path = FullPathLength(name);
  return full_path + growth > kMaxPath ? full_path + growth - kMaxPath : 0;
}

bool DescribeOpenFile(std::FILE* file, bool* folder, std::uint64_t* size) {
  // The 64-bit form: the plain one fails for files over 2 GiB in 32-bit
  // programs.
  struct _stati64 info;
  if (_fstati64(_fileno(file), &info) != 0) return false;
  *folder = (info.st_mode & S_IFMT) == S_IFDIR;
  *size = info.st_size > 0 ? static_cast<std::uint64_t>(info.st_size) : 0;
  return true;
}

// Windows works with whole paths: the folder is not held open.
bool OpenFolder(ResultFile*) { return true; }

void CloseFolder(ResultFile*) {}

// Missing, or a file that is neither a folder nor read-only. Windows gives
// the new file default attributes, so `permissions` is always set to -1.
bool MayReplace(const ResultFile& result, int* permissions) {
  *permissions = -1;
  const DWORD attributes = GetFileAttributesA(result.name.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    return GetLastError() == ERROR_FILE_NOT_FOUND;
  }
  return (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) ==
         0;
}

std::uint32_t ProcessNumber() { return static_cast<std::uint32_t>(_getpid()); }

int CreateNew(const ResultFile& result, int) {
  return _open(result.temporary_name.c_str(),
               _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
               _S_IREAD | _S_IWRITE);
}

bool WriteAll(int descriptor, const char* data, std::size_t size) {
  while (size > 0) {
    // _write takes an unsigned int count.
    const unsigned int piece =
        static_cast<unsigned int>(std::min<std::size_t>(size, 1u << 30));
    const int written = _write(descriptor, data, piece);
    if (written <= 0) return false;
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

bool CloseDescriptor(int descriptor) { return _close(descriptor) == 0; }

bool RenameOver(const ResultFile& result) {
  return MoveFileExA(result.temporary_name.c_str(), result.name.c_str(),
                     MOVEFILE_REPLACE_EXISTING) != 0;
}

void RemoveTemporary(const ResultFile& result) {
  DeleteFileA(result.temporary_name.c_str());
}

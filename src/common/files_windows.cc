// The Windows side of the file code: see files_platform.h.
// rand_s() is declared only with this set before stdlib.h.
#define _CRT_RAND_S  // NOLINT(bugprone-reserved-identifier)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "common/files.h"
#include "common/files_platform.h"
#include "common/wide_text.h"

namespace files_platform {

namespace {

// Longest path the plain file functions take (MAX_PATH less the final zero).
constexpr std::size_t kMaxPath = 259;
// wchar_t is a UTF-16 unit on Windows.
static_assert(sizeof(wchar_t) == sizeof(char16_t));
const wchar_t* WideChars(const char16_t* text) {
  return reinterpret_cast<const wchar_t*>(text);
}

// Returns `name` as the wide file functions take it: in UTF-16, and, where
// its full path (a relative name with the current folder in front) is longer
// than the plain functions take, as that full path in the long-path form.
// Throws std::bad_alloc if memory runs out.
std::u16string SystemPath(const std::string& name) {
  std::u16string path = Utf8ToUtf16(name);
  // The count includes the final zero.
  const DWORD needed =
      GetFullPathNameW(WideChars(path.c_str()), 0, nullptr, nullptr);
  if (needed == 0 || needed - 1 <= kMaxPath) return path;
  std::u16string full(needed, u'\0');
  const DWORD length =
      GetFullPathNameW(WideChars(path.c_str()), needed,
                       reinterpret_cast<wchar_t*>(full.data()), nullptr);
  if (length == 0 || length >= needed) return path;
  full.resize(length);
  return LongPathForm(full);
}

}  // namespace

std::size_t FileNameStart(const std::string& name) {
  // No folder part gives npos, and npos + 1 is 0.
  return name.find_last_of("\\/:") + 1;
}

std::size_t FileNameBytesWithin(std::string_view file_name, std::size_t room) {
  return Utf8PrefixWithinUnits(file_name, room);
}

void MakeSystemNames(ResultFile* result) {
  result->system_name = SystemPath(result->name);
  result->system_temporary_name = SystemPath(result->temporary_name);
}

std::FILE* OpenForReading(const std::string& name) {
  return _wfopen(WideChars(SystemPath(name).c_str()), L"rb");
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
bool MayReplaceAndChooseBits(const ResultFile& result, int* permissions) {
  *permissions = -1;
  const DWORD attributes =
      GetFileAttributesW(WideChars(result.system_name.c_str()));
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    return GetLastError() == ERROR_FILE_NOT_FOUND;
  }
  return (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) ==
         0;
}

bool RandomNumber(const ResultFile&, std::uint32_t* value) {
  unsigned int number = 0;
  if (rand_s(&number) != 0) return false;
  *value = number;
  return true;
}

int CreateTemporaryFile(const ResultFile& result, int) {
  return _wopen(WideChars(result.system_temporary_name.c_str()),
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
  return MoveFileExW(WideChars(result.system_temporary_name.c_str()),
                     WideChars(result.system_name.c_str()),
                     MOVEFILE_REPLACE_EXISTING) != 0;
}

void RemoveTemporary(const ResultFile& result) {
  DeleteFileW(WideChars(result.system_temporary_name.c_str()));
}

}  // namespace files_platform

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
#include <cstring>

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

// Bytes converted and written to the console at a time. Every byte gives at
// most one wide character, so the wide text fits in as many.
constexpr std::size_t kConsolePiece = 1024;
// The ANSI code page UTF-8, which Windows may be set to use.
constexpr UINT kUtf8CodePage = 65001;

// How many bytes at the end of `text` begin a character that they do not
// complete: 0, or 1 to 3 in UTF-8. `text` begins with a whole character.
std::size_t IncompleteTail(const char* text, std::size_t size) {
  const UINT code_page = GetACP();
  if (code_page == kUtf8CodePage) {
    // The last lead byte among the last three bytes, and its length.
    for (std::size_t back = 1; back <= std::min<std::size_t>(size, 3); ++back) {
      const auto byte = static_cast<unsigned char>(text[size - back]);
      if ((byte & 0xC0) == 0x80) continue;
      const std::size_t length = byte >= 0xF0   ? 4
                                 : byte >= 0xE0 ? 3
                                 : byte >= 0xC0 ? 2
                                                : 1;
      return length > back ? back : 0;
    }
    return 0;
  }
  // Double-byte code pages: a lead byte takes the byte after it, whatever it
  // is, so the characters are counted from the start.
  std::size_t at = 0;
  while (at < size) {
    at += IsDBCSLeadByteEx(code_page, static_cast<BYTE>(text[at])) ? 2 : 1;
  }
  return at - size;
}

// Writes the ANSI text `text` to `console` as wide characters. Returns false
// if the conversion or a console write fails.
bool WriteConsoleText(HANDLE console, const char* text, std::size_t size) {
  if (size == 0) return true;
  wchar_t wide[kConsolePiece];
  const int count = MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(size),
                                        wide, static_cast<int>(kConsolePiece));
  if (count <= 0) return false;
  for (DWORD done = 0; done < static_cast<DWORD>(count);) {
    DWORD written = 0;
    if (!WriteConsoleW(console, wide + done, static_cast<DWORD>(count) - done,
                       &written, nullptr) ||
        written == 0) {
      return false;
    }
    done += written;
  }
  return true;
}

}  // namespace

void SetUpProcessOutput() { _setmode(_fileno(stdout), _O_BINARY); }

StandardOutput OpenStandardOutput() {
  StandardOutput output;
  output.stream = stdout;
  // A console answers GetConsoleMode; a file, a pipe or no handle at all
  // does not, and gets the bytes through the C stream.
  HANDLE handle = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  if (handle != INVALID_HANDLE_VALUE && handle != nullptr &&
      GetConsoleMode(handle, &mode)) {
    output.console = handle;
  }
  return output;
}

bool WriteToStandardOutput(void* output, const char* data, std::size_t size) {
  auto* const out = static_cast<StandardOutput*>(output);
  if (out->console == nullptr) return WriteToStream(out->stream, data, size);
  while (size > 0) {
    // The bytes held back last time come first: they begin the character
    // that these bytes end.
    char piece[kConsolePiece];
    std::size_t used = out->held_size;
    std::memcpy(piece, out->held, used);
    const std::size_t taken = std::min(size, kConsolePiece - used);
    std::memcpy(piece + used, data, taken);
    data += taken;
    size -= taken;
    used += taken;
    // A character cut at the end of the piece is converted whole next time,
    // since half of one would show as a wrong letter.
    out->held_size = IncompleteTail(piece, used);
    used -= out->held_size;
    std::memcpy(out->held, piece + used, out->held_size);
    if (!WriteConsoleText(out->console, piece, used)) return false;
  }
  return true;
}

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

// Windows works with whole paths within MAX_PATH: the folder is not held
// open.
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

bool RandomNumber(const ResultFile&, std::uint32_t* value) {
  unsigned int number = 0;
  if (rand_s(&number) != 0) return false;
  *value = number;
  return true;
}

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

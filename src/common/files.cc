// Opening the parts list, replacing the result file, standard output.
#include "common/files.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <string_view>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <io.h>
#include <process.h>
#include <windows.h>
#else
#include <unistd.h>

#include <csignal>
#endif

namespace {

constexpr std::string_view kTemporaryEnd = ".tmp";
// ".XXXXXXXX.tmp": a dot, eight hex digits that make the name unique, ".tmp".
constexpr std::size_t kUniqueDigits = 8;
constexpr std::size_t kTemporarySuffixLength =
    1 + kUniqueDigits + kTemporaryEnd.size();
// Longest file name in a folder on the usual file systems.
constexpr std::size_t kMaxFileNameLength = 255;
// Names tried before giving up when leftovers of killed runs stand in the way.
constexpr int kCreateAttempts = 100;
// 2^32 divided by the golden ratio (Knuth's multiplicative hashing):
// consecutive process numbers start far apart among the temporary names.
constexpr std::uint32_t kSpreadFactor = 0x9E3779B1u;
// The step to the next name; odd, so stepping visits every 32-bit value
// before it repeats one.
constexpr std::uint32_t kNameStep = 0x01000193u;

#ifdef _WIN32
constexpr std::string_view kFolderEnds = "\\/:";
// Longest path the plain file functions take (MAX_PATH less the final zero).
constexpr std::size_t kMaxPath = 259;

// Length of the full path that `name` names, or of `name` itself if the
// system cannot tell.
std::size_t FullPathLength(const std::string& name) {
  const DWORD needed = GetFullPathNameA(name.c_str(), 0, nullptr, nullptr);
  // The count includes the final zero.
  return needed == 0 ? name.size() : needed - 1;
}
#else
constexpr std::string_view kFolderEnds = "/";
#endif

// Length of the part of `name` that stays in the temporary name: all of it,
// unless the suffix would make the file name or (on Windows) the full path
// longer than the file system takes; then the file name is cut so that every
// name that can be a result can also have a temporary file beside it.
std::size_t KeptLength(const std::string& name) {
  // No folder part gives npos, and npos + 1 is 0.
  const std::size_t folder_end = name.find_last_of(kFolderEnds) + 1;
  const std::size_t file_name_length = name.size() - folder_end;
  std::size_t cut = 0;
  if (file_name_length + kTemporarySuffixLength > kMaxFileNameLength) {
    cut = file_name_length + kTemporarySuffixLength - kMaxFileNameLength;
  }
#ifdef _WIN32
  // A relative name counts with the current folder in front of it.
  const std::size_t full_path = FullPathLength(name);
  if (full_path + kTemporarySuffixLength > kMaxPath) {
    cut = std::max(cut, full_path + kTemporarySuffixLength - kMaxPath);
  }
#endif
  return name.size() - std::min(cut, file_name_length);
}

// Writes `value` as eight hex digits over the unique part of `name`.
void SetUniqueDigits(std::string* name, std::uint32_t value) {
  const std::size_t start = name->size() - kTemporaryEnd.size() - kUniqueDigits;
  for (std::size_t i = kUniqueDigits; i-- > 0; value >>= 4) {
    (*name)[start + i] = "0123456789abcdef"[value & 15];
  }
}

std::uint32_t ProcessNumber() {
#ifdef _WIN32
  return static_cast<std::uint32_t>(_getpid());
#else
  return static_cast<std::uint32_t>(getpid());
#endif
}

#ifdef _WIN32

// The result name may be replaced: missing, or a file that is neither a
// folder nor read-only. Windows gives the new file default attributes, so
// `permissions` is always set to -1.
bool MayReplace(const ResultFile& result, int* permissions) {
  *permissions = -1;
  const DWORD attributes = GetFileAttributesA(result.name.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    return GetLastError() == ERROR_FILE_NOT_FOUND;
  }
  return (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) ==
         0;
}

void SetPermissions(int, int) {}

int CreateNew(const std::string& name) {
  return _open(name.c_str(),
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

bool RenameOver(const std::string& from, const std::string& to) {
  return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

void RemoveFile(const std::string& name) { DeleteFileA(name.c_str()); }

#else

// The result name may be replaced: missing, a link, or a regular file the
// user may write. `permissions` is set to the bits the new file should get,
// or to -1 for the default.
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

int CreateNew(const std::string& name) {
  return open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
}

// Gives the new file the old one's bits, which the umask applied by open()
// could otherwise narrow. Should this fail, the new file keeps the default
// bits: a result is still better written than refused for them.
void SetPermissions(int descriptor, int permissions) {
  if (permissions >= 0) fchmod(descriptor, static_cast<mode_t>(permissions));
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

bool RenameOver(const std::string& from, const std::string& to) {
  // A plain rename and never a swap of the two names: over an existing file
  // it makes the file system (ext4 by default) write out the new file first,
  // so that after a power cut the result name holds the old or the complete
  // new file, and a folder that appeared at the name is refused (EISDIR)
  // instead of being moved aside under the temporary name.
  return std::rename(from.c_str(), to.c_str()) == 0;
}

void RemoveFile(const std::string& name) { unlink(name.c_str()); }

#endif

}  // namespace

void SetUpProcessOutput() {
#ifdef _WIN32
  _setmode(_fileno(stdout), _O_BINARY);
#else
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
#endif
}

std::ptrdiff_t ReadFromFile(void* file, char* buffer, std::size_t size) {
  auto* const stream = static_cast<std::FILE*>(file);
  const std::size_t count = std::fread(buffer, 1, size, stream);
  if (count == 0 && std::ferror(stream) != 0) return -1;
  return static_cast<std::ptrdiff_t>(count);
}

bool WriteToStream(void* stream, const char* data, std::size_t size) {
  auto* const file = static_cast<std::FILE*>(stream);
  return std::fwrite(data, 1, size, file) == size && std::fflush(file) == 0;
}

std::FILE* OpenFileForReading(const std::string& name, std::uint64_t* size) {
  std::FILE* const file = std::fopen(name.c_str(), "rb");
  if (file == nullptr) return nullptr;
#ifdef _WIN32
  // The 64-bit form: the plain one fails for files over 2 GiB in 32-bit
  // programs.
  struct _stati64 info;
  const bool known = _fstati64(_fileno(file), &info) == 0;
#else
  struct stat info;
  const bool known = fstat(fileno(file), &info) == 0;
#endif
  if (known && (info.st_mode & S_IFMT) == S_IFDIR) {
    std::fclose(file);
    return nullptr;
  }
  *size =
      known && info.st_size > 0 ? static_cast<std::uint64_t>(info.st_size) : 0;
  std::setvbuf(file, nullptr, _IONBF, 0);
  return file;
}

ResultFile MakeResultFile(const std::string& name) {
  ResultFile result;
  result.name = name;
  result.temporary_name.assign(name, 0, KeptLength(name));
  // The dot, and room for the digits that CreateResultFile writes.
  result.temporary_name.append(1 + kUniqueDigits, '.');
  result.temporary_name.append(kTemporaryEnd);
  return result;
}

bool CreateResultFile(ResultFile* result) {
  int permissions = -1;
  if (!MayReplace(*result, &permissions)) return false;
  // Start from the process number, so that runs at the same time try other
  // names, and step on past names that leftovers already hold.
  std::uint32_t unique = ProcessNumber() * kSpreadFactor;
  for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
    SetUniqueDigits(&result->temporary_name, unique);
    result->descriptor = CreateNew(result->temporary_name);
    if (result->descriptor >= 0) break;
    if (errno != EEXIST) return false;
    unique += kNameStep;
  }
  if (result->descriptor < 0) return false;
  SetPermissions(result->descriptor, permissions);
  return true;
}

bool WriteToResultFile(void* result, const char* data, std::size_t size) {
  return WriteAll(static_cast<ResultFile*>(result)->descriptor, data, size);
}

bool ReplaceResultFile(ResultFile* result, bool complete) {
  const bool closed = CloseDescriptor(result->descriptor);
  result->descriptor = -1;
  if (complete && closed && RenameOver(result->temporary_name, result->name)) {
    return true;
  }
  RemoveFile(result->temporary_name);
  return false;
}

// Opening the parts list and replacing the result file: the part that is the
// same on every platform.
#include "common/files.h"

#include <cerrno>
#include <cstdint>
#include <string_view>

#include "common/files_platform.h"

namespace {

constexpr std::string_view kTemporaryEnd = ".tmp";
// ".XXXXXXXX.tmp": a dot, eight hex digits that make the name unique, ".tmp".
constexpr std::size_t kUniqueDigits = 8;
constexpr std::size_t kTemporarySuffixLength =
    1 + kUniqueDigits + kTemporaryEnd.size();
// Longest file name in a folder on the usual file systems (NAME_MAX), in the
// units that FileNameBytesWithin counts.
constexpr std::size_t kMaxFileNameLength = 255;
// Random names tried before giving up. Leftovers of killed runs take a few
// of the 2^32 names at most, so all taken means something else is wrong.
constexpr int kCreateAttempts = 100;

// Length of the part of `name` that stays in the temporary name: all of it,
// unless the suffix would make the file name longer than the file system
// takes; then the file name is cut so that every name that can be a result
// can also have a temporary file beside it.
std::size_t LengthKeptInTemporaryName(const std::string& name) {
  const std::size_t start = files_platform::FileNameStart(name);
  return start + files_platform::FileNameBytesWithin(
                     std::string_view(name).substr(start),
                     kMaxFileNameLength - kTemporarySuffixLength);
}

// Writes `value` as eight hex digits over the unique part of the temporary
// name, in each form of it that the result holds: the digits are ASCII, and
// both forms end in them and ".tmp".
void SetUniqueDigits(ResultFile* result, std::uint32_t value) {
  std::string& name = result->temporary_name;
  std::u16string& system_name = result->system_temporary_name;
  const std::size_t end = kTemporaryEnd.size() + kUniqueDigits;
  for (std::size_t i = kUniqueDigits; i-- > 0; value >>= 4) {
    const char digit = "0123456789abcdef"[value & 15];
    name[name.size() - end + i] = digit;
    if (!system_name.empty()) {
      system_name[system_name.size() - end + i] = static_cast<char16_t>(digit);
    }
  }
}

}  // namespace

std::ptrdiff_t ReadFromFile(void* file, char* buffer, std::size_t size) {
  auto* const stream = static_cast<std::FILE*>(file);
  const std::size_t count = std::fread(buffer, 1, size, stream);
  if (count == 0 && std::ferror(stream) != 0) return -1;
  return static_cast<std::ptrdiff_t>(count);
}

std::FILE* OpenFileForReading(const std::string& name, std::uint64_t* size) {
  std::FILE* const file = files_platform::OpenForReading(name);
  if (file == nullptr) return nullptr;
  bool folder = false;
  std::uint64_t known_size = 0;
  const bool known =
      files_platform::DescribeOpenFile(file, &folder, &known_size);
  if (known && folder) {
    std::fclose(file);
    return nullptr;
  }
  *size = known ? known_size : 0;
  std::setvbuf(file, nullptr, _IONBF, 0);
  return file;
}

ResultFile MakeResultFile(const std::string& name) {
  ResultFile result;
  result.name = name;
  result.file_start = files_platform::FileNameStart(name);
  result.folder =
      result.file_start == 0 ? "." : name.substr(0, result.file_start);
  result.temporary_name.assign(name, 0, LengthKeptInTemporaryName(name));
  // The dot, and room for the digits that CreateResultFile writes.
  result.temporary_name.push_back('.');
  result.temporary_name.append(kUniqueDigits, '0');
  result.temporary_name.append(kTemporaryEnd);
  files_platform::MakeSystemNames(&result);
  return result;
}

bool CreateResultFile(ResultFile* result) {
  if (!files_platform::OpenFolder(result)) return false;
  int permissions = -1;
  if (files_platform::MayReplaceAndChooseBits(*result, &permissions)) {
    // Random names, so that neither runs at the same time nor leftovers of
    // runs with the same process number stand in each other's way.
    std::uint32_t unique = 0;
    for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
      if (!files_platform::RandomNumber(*result, &unique)) break;
      SetUniqueDigits(result, unique);
      result->descriptor =
          files_platform::CreateTemporaryFile(*result, permissions);
      if (result->descriptor >= 0) return true;
      if (errno != EEXIST) break;
    }
  }
  // Nothing was created; a file that holds a name tried is not this run's
  // and stays as it is.
  files_platform::CloseFolder(result);
  return false;
}

bool WriteToResultFile(void* result, const char* data, std::size_t size) {
  return files_platform::WriteAll(static_cast<ResultFile*>(result)->descriptor,
                                  data, size);
}

bool ReplaceResultFile(ResultFile* result, bool complete) {
  const bool closed = files_platform::CloseDescriptor(result->descriptor);
  result->descriptor = -1;
  const bool replaced =
      complete && closed && files_platform::RenameOver(*result);
  if (!replaced) files_platform::RemoveTemporary(*result);
  files_platform::CloseFolder(result);
  return replaced;
}

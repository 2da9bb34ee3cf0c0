// Files of KOLVA: the parts list opened for reading, and the result file
// replaced whole or not at all.
#ifndef COMMON_FILES_H_
#define COMMON_FILES_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

// ReadBytesFn over a C file opened by OpenFileForReading.
std::ptrdiff_t ReadFromFile(void* file, char* buffer, std::size_t size);

// Opens `name` for reading in binary mode, unbuffered (TextInput reads in
// large blocks of its own), and sets `size` to its size in bytes (0 if
// unknown). Returns nullptr if it cannot be opened or names a directory
// (rejected here on every platform alike). On Windows it throws
// std::bad_alloc, having opened nothing, if the name's wide form needs memory
// there is not.
std::FILE* OpenFileForReading(const std::string& name, std::uint64_t* size);

namespace files_platform {
struct SystemCalls;
}  // namespace files_platform

// A result file being written. The lines go into a new temporary file in
// the same folder, which replaces the result name in one step only once it
// is complete; until then the result name keeps what it held. A run that
// ends at any moment leaves the old result or the complete new one, and at
// most a stray temporary file ending in ".tmp".
struct ResultFile {
  std::string name;
  // "NAME.XXXXXXXX.tmp" in the folder of `name`, with the file part of NAME
  // shortened where the whole would be too long for the file system. The
  // eight hex digits are random.
  std::string temporary_name;
  // Where the file name starts in `name` and in `temporary_name`, after the
  // folder part they share.
  std::size_t file_start = 0;
  // The folder part of `name`, or "." if it has none. On POSIX the folder is
  // opened once and both files are reached relative to it, so that they stay
  // in the same folder whatever happens to its path meanwhile.
  std::string folder;
  // Descriptor of that open folder (POSIX), or -1.
  int folder_descriptor = -1;
  // `name` and `temporary_name` as the Windows file functions take them
  // (UTF-16, in the long-path form where long), made with the rest so that
  // no later call needs memory; empty on POSIX.
  std::u16string system_name;
  std::u16string system_temporary_name;
  // Descriptor of the open temporary file, or -1.
  int descriptor = -1;
  // Stand-ins for some system calls, which only tests set (files_platform.h).
  const files_platform::SystemCalls* system_calls = nullptr;
};

// Prepares writing the result file `name`: all that needs memory, so that
// running out of it happens before any file is touched. Creates nothing.
ResultFile MakeResultFile(const std::string& name);

// Creates the temporary file, exclusively: an existing file is never opened.
// Returns false, having created and changed nothing, when the result name
// is something other than a regular file or a link (a folder, a named pipe,
// a device: never opened, so a pipe cannot make the run wait), when it is a
// file the user may not write, or when the temporary file cannot be created
// (a missing folder, one the user may not write in, or every name tried
// taken). On POSIX the new file gets the permission bits (without setuid
// and setgid), group and access ACL of the regular file it will replace, or
// that a link there points to (with the owner's write bit added), and never
// grants more than that file at any moment.
bool CreateResultFile(ResultFile* result);

// WriteBytesFn over the ResultFile `result` that CreateResultFile opened.
bool WriteToResultFile(void* result, const char* data, std::size_t size);

// Closes the temporary file and, if `complete`, renames it over the result
// name in one step: a link there is replaced, never written through.
// Returns true if the result name now holds the new file. Otherwise, or if
// `complete` is false, the temporary file is removed and the result name is
// left exactly as it was. Closes the folder too.
bool ReplaceResultFile(ResultFile* result, bool complete);

#endif  // COMMON_FILES_H_

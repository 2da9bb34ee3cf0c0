// What the file code that is the same everywhere (files.cc) asks of the
// platform's own: files_posix.cc or files_windows.cc, of which the build
// compiles one. Only these three files include this header, and the unit
// test of the file code, for SystemCalls.
#ifndef COMMON_FILES_PLATFORM_H_
#define COMMON_FILES_PLATFORM_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "common/files.h"

// The names are generic, so they keep to a namespace of their own.
namespace files_platform {

// Where the file name starts in the path `name`, after its folder part.
std::size_t FileNameStart(const std::string& name);

// Bytes of the longest start of the file name `file_name` that is at most
// `room` long as the file system counts a file name's length: in bytes on
// POSIX, in UTF-16 units on Windows, where it ends between two letters.
std::size_t FileNameBytesWithin(std::string_view file_name, std::size_t room);

// Sets the platform's own forms of the result's names, if it has any: the
// wide names of ResultFile on Windows. Throws std::bad_alloc if memory runs
// out.
void MakeSystemNames(ResultFile* result);

// Opens the file `name` for reading in binary mode, as std::fopen does.
// Throws std::bad_alloc if the name's system form needs memory there is not,
// before anything is opened.
std::FILE* OpenForReading(const std::string& name);

// Sets `folder` if the open `file` is a folder, and `size` to its size in
// bytes. Returns false if the system cannot tell.
bool DescribeOpenFile(std::FILE* file, bool* folder, std::uint64_t* size);

// Opens `result->folder` where the platform reaches the files relative to
// it. Returns false if it cannot be opened.
bool OpenFolder(ResultFile* result);

// Closes what OpenFolder opened, if anything.
void CloseFolder(ResultFile* result);

// True if the result name may be replaced: nothing there, a link, or a
// regular file the user may write. Sets `permissions` to the bits the new
// file should get, or to -1 for the default.
bool MayReplaceAndChooseBits(const ResultFile& result, int* permissions);

// Stand-ins for system calls, which only tests set (ResultFile::system_calls).
// Each takes the place of the one call it is named for, so that the code
// around the call runs as it does in the program.
struct SystemCalls {
  // In place of getrandom(): fills `size` bytes at `buffer` and returns
  // their count, or -1 with errno set.
  std::ptrdiff_t (*getrandom)(void* buffer, std::size_t size, unsigned flags);
  // In place of fchmod(): sets the permission bits of the open `descriptor`.
  int (*fchmod)(int descriptor, unsigned bits);
};

// Sets `value` to a number from the system's random source. Returns false
// if there is none.
bool RandomNumber(const ResultFile& result, std::uint32_t* value);

// Creates the file `result.temporary_name` exclusively, with `permissions`
// (or the default for -1) where the platform has such bits. Where it has
// more (POSIX), a new file that replaces another also gets that file's group
// and access ACL, or fewer permissions where it cannot. Returns its
// descriptor, or -1 with errno set.
int CreateTemporaryFile(const ResultFile& result, int permissions);

// Writes all of `data` to `descriptor`. Returns false if any write fails.
bool WriteAll(int descriptor, const char* data, std::size_t size);

// Closes `descriptor`. Returns false if the close reports an error.
bool CloseDescriptor(int descriptor);

// Renames the temporary file over the result name in one step.
bool RenameOver(const ResultFile& result);

// Removes the temporary file.
void RemoveTemporary(const ResultFile& result);

}  // namespace files_platform

#endif  // COMMON_FILES_PLATFORM_H_

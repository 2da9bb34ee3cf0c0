// The POSIX side of the file code: see files_platform.h. The result's folder
// is opened once and every file in it is reached relative to it.
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include "common/files.h"
#include "common/files_platform.h"

namespace files_platform {

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
// The owner's and the others' bits, without the group's.
constexpr mode_t kNotGroupBits = 0707;

// A file's access ACL as the system stores it: a 4-byte version (2), then
// entries of a 2-byte tag, a 2-byte permission and a 4-byte id, each
// little-endian. Entries tagged 1 and 4 are the owner's (user::) and the
// owning group's (group::).
constexpr const char* kAccessAclName = "system.posix_acl_access";
constexpr char kAclVersion[4] = {2, 0, 0, 0};
constexpr std::size_t kAclEntrySize = 8;
constexpr unsigned kAclOwnerTag = 1;
constexpr unsigned kAclOwningGroupTag = 4;
// The largest attribute value that Linux takes (XATTR_SIZE_MAX).
constexpr std::size_t kMaxAttributeSize = 65536;

struct AccessList {
  // Its size in bytes; 0 if the file has none, -1 if it could not be read.
  ssize_t size = -1;
  unsigned char bytes[kMaxAttributeSize];
};

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

bool DrawRandom(const ResultFile& result, std::uint32_t* value) {
  const SystemCalls* const calls = result.system_calls;
  // GRND_NONBLOCK: early in boot, before the pool is ready, /dev/urandom
  // serves instead of a wait.
  const std::ptrdiff_t drawn =
      calls != nullptr ? calls->getrandom(value, sizeof *value, GRND_NONBLOCK)
                       : getrandom(value, sizeof *value, GRND_NONBLOCK);
  return drawn == static_cast<std::ptrdiff_t>(sizeof *value);
}

int SetBits(const ResultFile& result, int descriptor, mode_t bits) {
  const SystemCalls* const calls = result.system_calls;
  return calls != nullptr ? calls->fchmod(descriptor, bits)
                          : fchmod(descriptor, bits);
}

// Reads the access ACL of the result, or of the file that a link there
// points to, without opening it. The folder's descriptor serves lookups
// alone, and attributes cannot be read through it, but through its name
// under /proc they can.
void ReadAccessList(const ResultFile& result, AccessList* list) {
  char path[32 + NAME_MAX + 1];
  const int length = std::snprintf(path, sizeof path, "/proc/self/fd/%d/%s",
                                   result.folder_descriptor, FileName(result));
  list->size = -1;
  if (length < 0 || static_cast<std::size_t>(length) >= sizeof path) return;
  list->size = getxattr(path, kAccessAclName, list->bytes, sizeof list->bytes);
  if (list->size < 0 && (errno == ENODATA || errno == ENOTSUP)) list->size = 0;
}

// Returns the bits that grant no more than a file with `bits` and the
// access ACL `list`, and gives the ACL's owner entry the owner's bits of
// `bits`, which may have gained the write bit. With an ACL, the group bits
// are its mask, the most that it grants any named user or group, and the
// owning group gets only what its own entry and the mask both give. An ACL
// that could not be read may hold any entries, so no group bits then.
mode_t NarrowBits(mode_t bits, AccessList* list) {
  if (list->size == 0) return bits;
  mode_t group = 0;
  if (list->size > 0 && std::memcmp(list->bytes, kAclVersion, 4) == 0) {
    const auto size = static_cast<std::size_t>(list->size);
    for (std::size_t at = 4; at + kAclEntrySize <= size; at += kAclEntrySize) {
      unsigned char* const entry = list->bytes + at;
      const unsigned tag = entry[0] | entry[1] << 8;
      if (tag == kAclOwnerTag) entry[2] = (bits >> 6) & 7;
      if (tag == kAclOwningGroupTag) group = (entry[2] & 7u) << 3;
    }
  }
  return (bits & kNotGroupBits) | (bits & group);
}

// Creates the file that replaces the old result, whose bits are `bits`, so
// that it never grants more than that file did. It starts without group
// bits: the folder may give it another group (setgid), or through its
// default ACL named users and groups, whom the group bits would let in.
// Then it gets the old file's group, loses an ACL the folder gave it, gets
// the bits and last the old file's ACL, as setting an ACL sets the bits
// too. Where a step fails, the bits stay narrower.
int CreateReplacement(const ResultFile& result, mode_t bits) {
  AccessList list;
  ReadAccessList(result, &list);
  struct stat old;
  const bool old_found =
      fstatat(result.folder_descriptor, FileName(result), &old, 0) == 0;
  const int descriptor =
      openat(result.folder_descriptor, TemporaryFileName(result),
             O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, bits & kNotGroupBits);
  if (descriptor < 0) return descriptor;
  struct stat info;
  const bool old_group =
      old_found && fstat(descriptor, &info) == 0 &&
      (info.st_gid == old.st_gid || fchown(descriptor, -1, old.st_gid) == 0);
  const bool folder_acl_gone = fremovexattr(descriptor, kAccessAclName) == 0 ||
                               errno == ENODATA || errno == ENOTSUP;
  if (!old_group || !folder_acl_gone) {
    SetBits(result, descriptor, bits & kNotGroupBits);
    return descriptor;
  }
  SetBits(result, descriptor, NarrowBits(bits, &list));
  if (list.size > 0) {
    fsetxattr(descriptor, kAccessAclName, list.bytes,
              static_cast<std::size_t>(list.size), 0);
  }
  return descriptor;
}

}  // namespace

std::size_t FileNameStart(const std::string& name) {
  // Only '/' ends a folder here. No folder part gives npos, and npos + 1
  // is 0.
  return name.rfind('/') + 1;
}

// Files are reached relative to their open folder, so a path of any length
// whose file name fits has room for the temporary name.
std::size_t FileNameBytesWithin(std::string_view file_name, std::size_t room) {
  return std::min(file_name.size(), room);
}

// The names are used as they are.
void MakeSystemNames(ResultFile*) {}

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

bool MayReplaceAndChooseBits(const ResultFile& result, int* permissions) {
  *permissions = -1;
  const int folder = result.folder_descriptor;
  struct stat info;
  if (fstatat(folder, FileName(result), &info, AT_SYMLINK_NOFOLLOW) != 0) {
    return errno == ENOENT;
  }
  if (S_ISLNK(info.st_mode)) {
    // The link is replaced, but the result gets no more than the file it
    // pointed to granted, and the owner's write bit, so that the runner may
    // replace the runner's own result again. A dangling link, or one to a
    // device or a pipe, gives the default.
    if (fstatat(folder, FileName(result), &info, 0) == 0 &&
        S_ISREG(info.st_mode)) {
      *permissions = static_cast<int>((info.st_mode & 0777) | S_IWUSR);
    }
    return true;
  }
  if (!S_ISREG(info.st_mode)) return false;
  if (faccessat(folder, FileName(result), W_OK, 0) != 0) return false;
  // Neither setuid nor setgid: the new file belongs to the runner.
  *permissions = static_cast<int>(info.st_mode & 0777);
  return true;
}

bool RandomNumber(const ResultFile& result, std::uint32_t* value) {
  return DrawRandom(result, value) || ReadRandomDevice(value, sizeof *value);
}

int CreateTemporaryFile(const ResultFile& result, int permissions) {
  // A new result gets what any new file gets: 0666 less the umask, and
  // what the folder's default ACL gives.
  if (permissions < 0) {
    return openat(result.folder_descriptor, TemporaryFileName(result),
                  O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kNewFileBits);
  }
  return CreateReplacement(result, static_cast<mode_t>(permissions));
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

}  // namespace files_platform

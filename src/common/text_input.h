// Text input of KOLVA: the parts list is read in large blocks, the byte 0x1A
// ends the text, and every block is followed by a few line feeds that let a
// scanner run without checking the bounds.
#ifndef COMMON_TEXT_INPUT_H_
#define COMMON_TEXT_INPUT_H_

#include <cstddef>
#include <cstdint>
#include <memory>

// Reads up to `size` bytes from `source` into `buffer`. Returns the number of
// bytes read, 0 at the end of the data, or -1 on a read error.
using ReadBytesFn = std::ptrdiff_t (*)(void* source, char* buffer,
                                       std::size_t size);

// Line feeds that always stand behind the unread bytes: buffer[end] and the
// kTextPadding - 1 bytes after it are '\n', whatever was read. A scan for
// white space therefore stops by itself at `end` at the latest, and may load
// a whole 8-byte word at any position up to `end`.
constexpr std::size_t kTextPadding = 8;

// Size of each read, and the buffer's first size. The build may set it
// (KOLVA_TEXT_BLOCK_SIZE): the fuzz build makes it small, so that short
// inputs cross block boundaries and make the buffer grow.
#ifndef KOLVA_TEXT_BLOCK_SIZE
#define KOLVA_TEXT_BLOCK_SIZE (std::size_t{1} << 18)
#endif
constexpr std::size_t kTextBlockSize = KOLVA_TEXT_BLOCK_SIZE;
// A read of no bytes would mean the end of the data, a buffer of no bytes
// would never grow, and the scanner loads a whole word of kTextPadding bytes
// at once; a size near SIZE_MAX would wrap around with the padding.
static_assert(kTextBlockSize >= kTextPadding &&
                  kTextBlockSize <= (std::size_t{1} << 30),
              "KOLVA_TEXT_BLOCK_SIZE must be from 8 to 1073741824 bytes");

// Text read in large blocks. The bytes in [begin, end) of `buffer` are read
// and not yet consumed; a reader consumes them by advancing `begin`. The
// padding above stands behind them.
struct TextInput {
  ReadBytesFn read = nullptr;
  void* source = nullptr;
  std::unique_ptr<char[]> buffer;
  // Bytes the buffer holds, not counting the padding behind them.
  std::size_t capacity = 0;
  std::size_t begin = 0;
  std::size_t end = 0;
  // Position in the text of buffer[0].
  std::uint64_t offset = 0;
  // No byte will follow those in the buffer: the data ended, a 0x1A byte was
  // met (it ends the text as if the file ended there) or a read error
  // happened.
  bool at_end = false;
  // A read error happened; the text read before it is in the buffer.
  bool failed = false;
};

// Starts reading text from `source`. Allocates the first block.
TextInput MakeTextInput(ReadBytesFn read, void* source);

// Position in the text of the first unconsumed byte.
inline std::uint64_t TextPosition(const TextInput& input) {
  return input.offset + input.begin;
}

// Moves the unconsumed bytes to the front of the buffer, enlarging it when
// they fill it, and reads one block behind them. Returns true if bytes were
// added, false once the input is at its end. Throws std::bad_alloc when the
// buffer cannot grow.
bool FillTextInput(TextInput* input);

#endif  // COMMON_TEXT_INPUT_H_

// The one input and output layer of KOLVA. Every byte the program reads or
// writes, console included, passes through here, so that line ends and the
// end-of-text byte are handled the same on every platform instead of by a C
// runtime's text mode.
#ifndef COMMON_TEXT_IO_H_
#define COMMON_TEXT_IO_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

// Reads up to `size` bytes from `source` into `buffer`. Returns the number of
// bytes read, 0 at the end of the data, or -1 on a read error.
using ReadBytesFn = std::ptrdiff_t (*)(void* source, char* buffer,
                                       std::size_t size);

// Writes all `size` bytes of `data` to `sink`. Returns false on any failure.
using WriteBytesFn = bool (*)(void* sink, const char* data, std::size_t size);

// Text read in large blocks. The bytes in [begin, end) of `buffer` are read
// and not yet consumed; a reader consumes them by advancing `begin`. Line
// feeds always stand at buffer[end] and the kTextPadding - 1 bytes after it,
// so a scan for the end of a line or token stops there without checking the
// bounds, and may load a whole 8-byte word at any position up to `end`.
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
  // Size the text is expected to have, or 0 if unknown: a hint for sizing
  // what is read from it, never a limit.
  std::uint64_t expected_size = 0;
  // No byte will follow those in the buffer: the data ended, a 0x1A byte was
  // met (it ends the text as if the file ended there) or a read error
  // happened.
  bool at_end = false;
  // A read error happened; the text read before it is in the buffer.
  bool failed = false;
};

// Text written through a buffer. Each line feed is written as carriage return
// and line feed. A failed write is remembered and ends all further writing.
struct TextOutput {
  WriteBytesFn write = nullptr;
  void* sink = nullptr;
  std::unique_ptr<char[]> buffer;
  std::size_t capacity = 0;
  std::size_t used = 0;
  bool failed = false;
};

// Text with its line feeds already turned into CR LF, to be written many
// times over without being looked at again. `bytes` holds the `size` bytes
// of the text followed by kPreparedCopySize zero bytes, so that a short text
// is copied in one fixed-size move.
struct PreparedText {
  std::string bytes;
  std::size_t size = 0;
};

// The fixed-size move of a short PreparedText; the TextOutput buffer keeps
// this many bytes of room behind its capacity for it.
constexpr std::size_t kPreparedCopySize = 32;

// Line feeds kept behind the bytes of a TextInput.
constexpr std::size_t kTextPadding = 8;

// Block size of TextInput reads and of the TextOutput buffer.
constexpr std::size_t kTextBlockSize = std::size_t{1} << 18;

// Starts reading text from `source`. Allocates the first block.
TextInput MakeTextInput(ReadBytesFn read, void* source);

// Position in the text of the first unconsumed byte.
inline std::uint64_t TextPosition(const TextInput& input) {
  return input.offset + input.begin;
}

// Moves the unconsumed bytes to the front of the buffer, enlarging it when
// they fill it, and reads one block behind them. Returns true if bytes were
// added, false once the input is at its end.
bool FillTextInput(TextInput* input);

// Starts writing text to `sink` through a buffer of `capacity` bytes.
TextOutput MakeTextOutput(WriteBytesFn write, void* sink,
                          std::size_t capacity = kTextBlockSize);

// Writes `text`, every line feed in it as carriage return and line feed.
void WriteText(TextOutput* output, std::string_view text);

// Writes `format` with its first "%s" replaced by `value` (which is written as
// text too, so a line feed inside a name also becomes CR LF).
void WriteFormatted(TextOutput* output, std::string_view format,
                    std::string_view value);

// Turns every line feed of `text` into CR LF, once.
PreparedText PrepareText(std::string_view text);

// Writes `before`, then `number` in signed decimal, then `after`: the way a
// line that differs from the next only in a number is written quickly.
void WriteNumbered(TextOutput* output, const PreparedText& before,
                   std::int32_t number, const PreparedText& after);

// Most bytes FormatInt32 stores: "-2147483648".
constexpr std::size_t kInt32Chars = 11;

// Writes `number` in signed decimal, with no leading zeros, at `to` and
// returns the end of the text. May store bytes past that end, but never more
// than kInt32Chars from `to` on.
char* FormatInt32(char* to, std::int32_t number);

// Hands the buffered bytes to the sink. Returns true if every byte written so
// far reached the sink.
bool FlushTextOutput(TextOutput* output);

// ReadBytesFn and WriteBytesFn over a C file opened in binary mode.
std::ptrdiff_t ReadFromFile(void* file, char* buffer, std::size_t size);
bool WriteToFile(void* file, const char* data, std::size_t size);

// Opens `name` for reading in binary mode and sets `size` to its size in
// bytes (0 if unknown). Returns nullptr if it cannot be opened or names a
// directory (rejected here on every platform alike).
std::FILE* OpenFileForReading(const std::string& name, std::uint64_t* size);

// Opens `name` for writing in binary mode, creating it if it is missing.
// Returns nullptr if it cannot be opened. An existing file is overwritten
// from its start and cut to the new size by CloseWrittenFile, rather than
// truncated first: the file system then need not free the whole old file
// up front, nor (as some do after a truncation) write the new one back at
// once on closing.
std::FILE* OpenFileForWriting(const std::string& name);

// Cuts a regular file opened by OpenFileForWriting off at the current
// position, so that nothing of an older, longer content is left behind it,
// and closes it. Returns false if either fails.
bool CloseWrittenFile(std::FILE* file);

// Switches standard output to binary mode where the platform has a text mode.
void SetStandardOutputBinary();

#endif  // COMMON_TEXT_IO_H_

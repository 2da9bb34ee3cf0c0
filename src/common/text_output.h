// Text output of KOLVA: every byte the program writes, to the console or to
// the result file, passes through here, and every line feed is written as
// carriage return and line feed on every platform alike, instead of by a C
// runtime's text mode.
#ifndef COMMON_TEXT_OUTPUT_H_
#define COMMON_TEXT_OUTPUT_H_

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

// Writes all `size` bytes of `data` to `sink`. Returns false on any failure.
using WriteBytesFn = bool (*)(void* sink, const char* data, std::size_t size);

// The buffer size of a result file's output. The build may set it
// (KOLVA_OUTPUT_BUFFER_SIZE): the fuzz build makes it small, so that the
// writer's flushes are reached by short tables.
#ifndef KOLVA_OUTPUT_BUFFER_SIZE
#define KOLVA_OUTPUT_BUFFER_SIZE (std::size_t{1} << 18)
#endif
constexpr std::size_t kOutputBufferSize = KOLVA_OUTPUT_BUFFER_SIZE;
// A buffer of no bytes, or one that no allocation can give, fails every run.
static_assert(kOutputBufferSize > 0 &&
                  kOutputBufferSize <= (std::size_t{1} << 30),
              "KOLVA_OUTPUT_BUFFER_SIZE must be from 1 to 1073741824 bytes");

// Bytes written through a buffer. A failed write is remembered and ends all
// further writing.
struct TextOutput {
  WriteBytesFn write = nullptr;
  void* sink = nullptr;
  // The buffer: `storage`, or an array that the caller owns.
  char* buffer = nullptr;
  std::unique_ptr<char[]> storage;
  std::size_t capacity = 0;
  std::size_t used = 0;
  bool failed = false;
};

// Starts writing to `sink` through a buffer of `capacity` bytes, allocated
// here; nothing is written before the first flush.
TextOutput MakeTextOutput(WriteBytesFn write, void* sink,
                          std::size_t capacity = kOutputBufferSize);

// Starts writing to `sink` through the caller's array of `capacity` bytes at
// `buffer`, which must outlast the output. Allocates nothing, so it cannot
// run out of memory: the console still says when the program has.
TextOutput MakeTextOutputIn(WriteBytesFn write, void* sink, char* buffer,
                            std::size_t capacity);

// Returns `text` with every line feed turned into CR LF: the one place where
// line ends are translated. Text meant to be written many times is
// translated once with it and then written with WriteBytes or
// ReserveOutputRoom.
std::string WithCrLf(std::string_view text);

// Writes `text`, every line feed in it as carriage return and line feed.
void WriteText(TextOutput* output, std::string_view text);

// Writes `format` with its first "%s" replaced by `value` (which is written as
// text too, so a line feed inside a name also becomes CR LF).
void WriteFormatted(TextOutput* output, std::string_view format,
                    std::string_view value);

// Writes `size` bytes as they are: text that WithCrLf already translated.
void WriteBytes(TextOutput* output, const char* data, std::size_t size);

// Returns room for up to `size` bytes at the end of the buffered output,
// flushing the buffer first when it lacks that room, for a caller that
// composes bytes in place and then calls CommitOutputRoom. Returns nullptr if
// the output has failed or `size` exceeds the buffer's capacity; the caller
// then writes with WriteBytes instead.
char* ReserveOutputRoom(TextOutput* output, std::size_t size);

// The end of the room that ReserveOutputRoom gave: the caller may compose bytes
// up to here before it calls CommitOutputRoom.
inline char* OutputRoomEnd(const TextOutput* output) {
  return output->buffer + output->capacity;
}

// Takes the bytes composed in the room that ReserveOutputRoom gave, up to
// `end`, into the output.
void CommitOutputRoom(TextOutput* output, const char* end);

// Hands the buffered bytes to the sink. Returns true if every byte written so
// far reached the sink.
bool FlushTextOutput(TextOutput* output);

#endif  // COMMON_TEXT_OUTPUT_H_

// Block-wise text input and CR LF text output, independent of the platform's
// C runtime text mode.
#include "common/text_io.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <new>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

constexpr char kEndOfText = 0x1A;

// Copies raw bytes into the output buffer, flushing it when full. A run of
// bytes larger than the buffer goes to the sink directly.
void Append(TextOutput* output, const char* data, std::size_t size) {
  if (output->failed) return;
  if (size > output->capacity - output->used) {
    if (!FlushTextOutput(output)) return;
    if (size > output->capacity) {
      output->failed = !output->write(output->sink, data, size);
      return;
    }
  }
  std::memcpy(output->buffer.get() + output->used, data, size);
  output->used += size;
}

}  // namespace

TextInput MakeTextInput(ReadBytesFn read, void* source) {
  TextInput input;
  input.read = read;
  input.source = source;
  input.capacity = kTextBlockSize;
  input.buffer =
      std::make_unique_for_overwrite<char[]>(input.capacity + kTextPadding);
  std::memset(input.buffer.get(), '\n', kTextPadding);
  return input;
}

bool FillTextInput(TextInput* input) {
  if (input->at_end) return false;
  const std::size_t kept = input->end - input->begin;
  if (input->begin > 0) {
    input->offset += input->begin;
    std::memmove(input->buffer.get(), input->buffer.get() + input->begin, kept);
    input->begin = 0;
    input->end = kept;
  }
  if (input->end == input->capacity) {
    // Unconsumed bytes fill the whole buffer: grow it so that a token of any
    // length is kept whole. A size past what the address space can hold is
    // reported as what it is, exhausted memory, rather than wrapping around.
    if (input->capacity > (SIZE_MAX - kTextPadding) / 2) throw std::bad_alloc();
    const std::size_t capacity = input->capacity * 2;
    auto buffer =
        std::make_unique_for_overwrite<char[]>(capacity + kTextPadding);
    std::memcpy(buffer.get(), input->buffer.get(), input->end);
    input->buffer = std::move(buffer);
    input->capacity = capacity;
  }
  char* const fresh = input->buffer.get() + input->end;
  const std::ptrdiff_t count =
      input->read(input->source, fresh, input->capacity - input->end);
  std::size_t added = 0;
  if (count <= 0) {
    input->at_end = true;
    input->failed = count < 0;
  } else {
    added = static_cast<std::size_t>(count);
    const void* stop = std::memchr(fresh, kEndOfText, added);
    if (stop != nullptr) {
      // The text ends before the 0x1A byte; nothing after it is ever read.
      added = static_cast<std::size_t>(static_cast<const char*>(stop) - fresh);
      input->at_end = true;
    }
  }
  input->end += added;
  std::memset(input->buffer.get() + input->end, '\n', kTextPadding);
  return added > 0;
}

TextOutput MakeTextOutput(WriteBytesFn write, void* sink,
                          std::size_t capacity) {
  TextOutput output;
  output.write = write;
  output.sink = sink;
  output.capacity = capacity;
  output.buffer =
      std::make_unique_for_overwrite<char[]>(capacity + kPreparedCopySize);
  return output;
}

// Calls `emit` with the pieces of `text` in order, every line feed replaced
// by CR LF: the one place where line ends are translated.
template <typename Emit>
void TranslateLineEnds(std::string_view text, Emit emit) {
  while (!text.empty()) {
    const std::size_t line = text.find('\n');
    if (line == std::string_view::npos) {
      emit(text);
      return;
    }
    emit(text.substr(0, line));
    emit(std::string_view("\r\n"));
    text.remove_prefix(line + 1);
  }
}

void WriteText(TextOutput* output, std::string_view text) {
  TranslateLineEnds(text, [output](std::string_view piece) {
    Append(output, piece.data(), piece.size());
  });
}

PreparedText PrepareText(std::string_view text) {
  PreparedText prepared;
  TranslateLineEnds(text, [&prepared](std::string_view piece) {
    prepared.bytes.append(piece);
  });
  prepared.size = prepared.bytes.size();
  prepared.bytes.append(kPreparedCopySize, '\0');
  return prepared;
}

// The decimal digits of `value` (below 10^8), eight of them with leading
// zeros, as ASCII bytes in the order they are written: the four-digit halves
// are split into pairs and the pairs into digits, all lanes of the word at
// once. x * 10486 >> 20 is x / 100 for x below 10^4, x * 103 >> 10 is x / 10
// for x below 100.
inline std::uint64_t EightDigits(std::uint32_t value) {
  std::uint64_t x = value / 10000 | std::uint64_t{value % 10000} << 32;
  std::uint64_t tens = (x * 10486 >> 20) & 0x0000007F0000007Fu;
  x = tens | (x - tens * 100) << 16;
  tens = (x * 103 >> 10) & 0x000F000F000F000Fu;
  x = tens | (x - tens * 10) << 8;
  return x;
}

// Copies `text` to `to` and returns the end of the copy. A short text is
// copied with its padding in one fixed-size move, which the compiler turns
// into a few register moves instead of a call; the bytes past the text land
// in room that is overwritten or never written out.
inline char* CopyPrepared(char* to, const PreparedText& text) {
  if (text.size <= kPreparedCopySize) {
    std::memcpy(to, text.bytes.data(), kPreparedCopySize);
  } else {
    std::memcpy(to, text.bytes.data(), text.size);
  }
  return to + text.size;
}

char* FormatInt32(char* to, std::int32_t number) {
  static_assert(std::endian::native == std::endian::little,
                "digits are stored as words, first digit lowest");
  constexpr std::uint64_t kZeros = 0x3030303030303030u;
  std::uint32_t value = static_cast<std::uint32_t>(number);
  if (number < 0) {
    *to++ = '-';
    value = 0u - value;
  }
  if (value >= 100000000) {
    // Nine or ten digits: the leading one or two, then eight.
    const std::uint32_t high = value / 100000000;
    if (high >= 10) *to++ = static_cast<char>('0' + high / 10);
    *to++ = static_cast<char>('0' + high % 10);
    const std::uint64_t digits = EightDigits(value % 100000000) + kZeros;
    std::memcpy(to, &digits, sizeof digits);
    return to + sizeof digits;
  }
  // Drop the leading zeros, but keep one digit for 0 (whose word is 0).
  const std::uint64_t digits = EightDigits(value);
  const int zeros = std::min(std::countr_zero(digits) / 8, 7);
  const std::uint64_t text = (digits + kZeros) >> (8 * zeros);
  std::memcpy(to, &text, sizeof text);
  return to + (8 - zeros);
}

void WriteNumbered(TextOutput* output, const PreparedText& before,
                   std::int32_t number, const PreparedText& after) {
  if (output->failed) return;
  const std::size_t most = before.size + kInt32Chars + after.size;
  if (most > output->capacity - output->used) {
    if (most > output->capacity) {
      // Lines longer than the buffer are rare enough to go piece by piece.
      char digits[kInt32Chars];
      const char* const stop = FormatInt32(digits, number);
      Append(output, before.bytes.data(), before.size);
      Append(output, digits, static_cast<std::size_t>(stop - digits));
      Append(output, after.bytes.data(), after.size);
      return;
    }
    if (!FlushTextOutput(output)) return;
  }
  char* at = CopyPrepared(output->buffer.get() + output->used, before);
  at = FormatInt32(at, number);
  at = CopyPrepared(at, after);
  output->used = static_cast<std::size_t>(at - output->buffer.get());
}

void WriteFormatted(TextOutput* output, std::string_view format,
                    std::string_view value) {
  const std::size_t at = format.find("%s");
  if (at == std::string_view::npos) {
    WriteText(output, format);
    return;
  }
  WriteText(output, format.substr(0, at));
  WriteText(output, value);
  WriteText(output, format.substr(at + 2));
}

bool FlushTextOutput(TextOutput* output) {
  if (!output->failed && output->used > 0) {
    output->failed =
        !output->write(output->sink, output->buffer.get(), output->used);
  }
  output->used = 0;
  return !output->failed;
}

std::ptrdiff_t ReadFromFile(void* file, char* buffer, std::size_t size) {
  auto* const stream = static_cast<std::FILE*>(file);
  const std::size_t count = std::fread(buffer, 1, size, stream);
  if (count == 0 && std::ferror(stream) != 0) return -1;
  return static_cast<std::ptrdiff_t>(count);
}

bool WriteToFile(void* file, const char* data, std::size_t size) {
  auto* const stream = static_cast<std::FILE*>(file);
  return std::fwrite(data, 1, size, stream) == size && std::fflush(stream) == 0;
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
  // TextInput reads in large blocks of its own; a second buffer would only
  // copy every byte once more.
  std::setvbuf(file, nullptr, _IONBF, 0);
  return file;
}

std::FILE* OpenFileForWriting(const std::string& name) {
#ifdef _WIN32
  const int descriptor = _open(name.c_str(), _O_WRONLY | _O_CREAT | _O_BINARY,
                               _S_IREAD | _S_IWRITE);
  std::FILE* const file = descriptor < 0 ? nullptr : _fdopen(descriptor, "wb");
  if (file == nullptr && descriptor >= 0) _close(descriptor);
#else
  const int descriptor = open(name.c_str(), O_WRONLY | O_CREAT, 0666);
  std::FILE* const file = descriptor < 0 ? nullptr : fdopen(descriptor, "wb");
  if (file == nullptr && descriptor >= 0) close(descriptor);
#endif
  if (file != nullptr) std::setvbuf(file, nullptr, _IONBF, 0);
  return file;
}

bool CloseWrittenFile(std::FILE* file) {
  bool cut = true;
#ifdef _WIN32
  struct _stati64 info;
  if (_fstati64(_fileno(file), &info) == 0 &&
      (info.st_mode & S_IFMT) == S_IFREG) {
    const __int64 size = _ftelli64(file);
    cut = size >= 0 && _chsize_s(_fileno(file), size) == 0;
  }
#else
  struct stat info;
  if (fstat(fileno(file), &info) == 0 && S_ISREG(info.st_mode)) {
    const off_t size = ftello(file);
    cut = size >= 0 && ftruncate(fileno(file), size) == 0;
  }
#endif
  return std::fclose(file) == 0 && cut;
}

void SetStandardOutputBinary() {
#ifdef _WIN32
  _setmode(_fileno(stdout), _O_BINARY);
#endif
}

// Block-wise text input and CR LF text output, independent of the platform's
// C runtime text mode.
#include "common/text_io.h"

#include <sys/stat.h>

#include <cstring>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
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
  input.buffer = std::make_unique_for_overwrite<char[]>(input.capacity);
  return input;
}

bool FillTextInput(TextInput* input) {
  if (input->at_end) return false;
  const std::size_t kept = input->end - input->begin;
  if (input->begin > 0) {
    std::memmove(input->buffer.get(), input->buffer.get() + input->begin, kept);
    input->begin = 0;
    input->end = kept;
  }
  if (input->end == input->capacity) {
    // A token fills the whole buffer: grow it so tokens of any length are
    // kept whole.
    const std::size_t capacity = input->capacity * 2;
    auto buffer = std::make_unique_for_overwrite<char[]>(capacity);
    std::memcpy(buffer.get(), input->buffer.get(), input->end);
    input->buffer = std::move(buffer);
    input->capacity = capacity;
  }
  char* const fresh = input->buffer.get() + input->end;
  const std::ptrdiff_t count =
      input->read(input->source, fresh, input->capacity - input->end);
  if (count <= 0) {
    input->at_end = true;
    input->failed = count < 0;
    return false;
  }
  const auto size = static_cast<std::size_t>(count);
  const void* stop = std::memchr(fresh, kEndOfText, size);
  if (stop != nullptr) {
    // The text ends before the 0x1A byte; nothing after it is ever read.
    const auto kept_size =
        static_cast<std::size_t>(static_cast<const char*>(stop) - fresh);
    input->end += kept_size;
    input->at_end = true;
    return kept_size > 0;
  }
  input->end += size;
  return true;
}

TextOutput MakeTextOutput(WriteBytesFn write, void* sink,
                          std::size_t capacity) {
  TextOutput output;
  output.write = write;
  output.sink = sink;
  output.capacity = capacity;
  output.buffer = std::make_unique_for_overwrite<char[]>(capacity);
  return output;
}

void WriteText(TextOutput* output, std::string_view text) {
  const char* data = text.data();
  std::size_t size = text.size();
  while (size > 0) {
    const void* found = std::memchr(data, '\n', size);
    if (found == nullptr) {
      Append(output, data, size);
      return;
    }
    const auto line =
        static_cast<std::size_t>(static_cast<const char*>(found) - data);
    Append(output, data, line);
    Append(output, "\r\n", 2);
    data += line + 1;
    size -= line + 1;
  }
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

std::FILE* OpenFileForReading(const std::string& name) {
  std::FILE* const file = std::fopen(name.c_str(), "rb");
  if (file == nullptr) return nullptr;
  struct stat info;
  if (fstat(fileno(file), &info) != 0 || (info.st_mode & S_IFMT) == S_IFDIR) {
    std::fclose(file);
    return nullptr;
  }
  // TextInput reads in large blocks of its own; a second buffer would only
  // copy every byte once more.
  std::setvbuf(file, nullptr, _IONBF, 0);
  return file;
}

std::FILE* OpenFileForWriting(const std::string& name) {
  std::FILE* const file = std::fopen(name.c_str(), "wb");
  if (file != nullptr) std::setvbuf(file, nullptr, _IONBF, 0);
  return file;
}

void SetStandardOutputBinary() {
#ifdef _WIN32
  _setmode(_fileno(stdout), _O_BINARY);
#endif
}

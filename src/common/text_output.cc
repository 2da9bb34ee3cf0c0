// Buffered output with CR LF line ends.
#include "common/text_output.h"

#include <cstring>
#include <utility>

namespace {

// Calls `emit` with the pieces of `text` in order, every line feed replaced
// by CR LF.
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

}  // namespace

TextOutput MakeTextOutput(WriteBytesFn write, void* sink,
                          std::size_t capacity) {
  auto storage = std::make_unique_for_overwrite<char[]>(capacity);
  TextOutput output = MakeTextOutputIn(write, sink, storage.get(), capacity);
  output.storage = std::move(storage);
  return output;
}

TextOutput MakeTextOutputIn(WriteBytesFn write, void* sink, char* buffer,
                            std::size_t capacity) {
  TextOutput output;
  output.write = write;
  output.sink = sink;
  output.buffer = buffer;
  output.capacity = capacity;
  return output;
}

std::string WithCrLf(std::string_view text) {
  std::string translated;
  TranslateLineEnds(text, [&translated](std::string_view piece) {
    translated.append(piece);
  });
  return translated;
}

void WriteText(TextOutput* output, std::string_view text) {
  TranslateLineEnds(text, [output](std::string_view piece) {
    WriteBytes(output, piece.data(), piece.size());
  });
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

void WriteBytes(TextOutput* output, const char* data, std::size_t size) {
  if (output->failed) return;
  if (size > output->capacity - output->used) {
    if (!FlushTextOutput(output)) return;
    if (size > output->capacity) {
      // Larger than the whole buffer: straight to the sink.
      output->failed = !output->write(output->sink, data, size);
      return;
    }
  }
  std::memcpy(output->buffer + output->used, data, size);
  output->used += size;
}

char* ReserveOutputRoom(TextOutput* output, std::size_t size) {
  if (output->failed || size > output->capacity) return nullptr;
  if (size > output->capacity - output->used && !FlushTextOutput(output)) {
    return nullptr;
  }
  return output->buffer + output->used;
}

void CommitOutputRoom(TextOutput* output, const char* end) {
  output->used = static_cast<std::size_t>(end - output->buffer);
}

bool FlushTextOutput(TextOutput* output) {
  if (!output->failed && output->used > 0) {
    output->failed = !output->write(output->sink, output->buffer, output->used);
  }
  output->used = 0;
  return !output->failed;
}

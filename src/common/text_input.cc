// Block-wise text input with the end-of-text byte and the line-feed padding.
#include "common/text_input.h"

#include <cstdint>
#include <cstring>
#include <new>

namespace {

constexpr char kEndOfText = 0x1A;

// Moves the unconsumed bytes to the front of the buffer.
void Compact(TextInput* input) {
  if (input->begin == 0) return;
  const std::size_t kept = input->end - input->begin;
  input->offset += input->begin;
  std::memmove(input->buffer.get(), input->buffer.get() + input->begin, kept);
  input->begin = 0;
  input->end = kept;
}

// Doubles the buffer, keeping its bytes, so that a token of any length is
// kept whole. A size past PTRDIFF_MAX, where the difference of two pointers
// into the buffer would overflow (2 GiB in a 32-bit program), is reported as
// what it is, exhausted memory, rather than handed to the allocator.
void Grow(TextInput* input) {
  constexpr auto kLargest = static_cast<std::size_t>(PTRDIFF_MAX);
  if (input->capacity > (kLargest - kTextPadding) / 2) throw std::bad_alloc();
  const std::size_t capacity = input->capacity * 2;
  auto buffer = std::make_unique_for_overwrite<char[]>(capacity + kTextPadding);
  std::memcpy(buffer.get(), input->buffer.get(), input->end);
  input->buffer = std::move(buffer);
  input->capacity = capacity;
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
  Compact(input);
  if (input->end == input->capacity) Grow(input);
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

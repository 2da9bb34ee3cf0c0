// Tests of the text input: end of text, read errors, growth.
#include "common/text_input.h"

#include <gtest/gtest.h>

#include <string>

#include "test_support.h"

namespace {

using namespace std::string_literals;

// Reads everything `input` delivers and returns it, with "!" appended if the
// input ended in a read error.
std::string Drain(TextInput* input) {
  while (FillTextInput(input)) {
  }
  std::string text(input->buffer.get() + input->begin,
                   input->end - input->begin);
  return input->failed ? text + "!" : text;
}

TEST(TextInputTest, EndsAtEndOfTextByteOrReadError) {
  struct Case {
    std::string data;
    std::size_t chunk;
    bool fail_at_end;
    std::string expected;
  };
  const Case cases[] = {
      {"abc", 1, false, "abc"},
      {"ab\x1A"
       "cd",
       100, false, "ab"},
      {"ab\x1A"
       "cd",
       1, false, "ab"},
      {"\x1A"
       "cd",
       100, false, ""},
      {"a\r\nb\0c"s, 100, false, "a\r\nb\0c"s},
      {"abc", 2, true, "abc!"},
      {"", 2, true, "!"},
  };
  for (const Case& c : cases) {
    MemorySource source{c.data, c.chunk, c.fail_at_end};
    TextInput input = MakeTextInput(ReadFromMemory, &source);
    EXPECT_EQ(Drain(&input), c.expected) << c.data;
  }
}

TEST(TextInputTest, GrowsForTextLargerThanOneBlock) {
  const std::string data(3 * kTextBlockSize + 5, 'x');
  MemorySource source{data};
  TextInput input = MakeTextInput(ReadFromMemory, &source);
  EXPECT_EQ(Drain(&input), data);
}

}  // namespace

// Tests of the text layer: end of text, read errors, CR LF output.
#include "common/text_io.h"

#include <gtest/gtest.h>

#include <string>

#include "common/test_support.h"

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

TEST(TextOutputTest, WritesEveryLineFeedAsCrLf) {
  const struct {
    std::string text;
    std::string expected;
  } cases[] = {
      {"", ""},
      {"abc", "abc"},
      {"\n", "\r\n"},
      {"a\nb\n\n", "a\r\nb\r\n\r\n"},
      {"a\r\n", "a\r\r\n"},
  };
  for (const auto& c : cases) {
    MemorySink sink;
    TextOutput output = MakeTextOutput(WriteToMemory, &sink, 4);
    WriteText(&output, c.text);
    EXPECT_TRUE(FlushTextOutput(&output));
    EXPECT_EQ(sink.bytes, c.expected) << c.text;
  }
}

TEST(TextOutputTest, FormatsOneValue) {
  MemorySink sink;
  TextOutput output = MakeTextOutput(WriteToMemory, &sink);
  WriteFormatted(&output, "\nName: %s... ", "a\nb");
  WriteFormatted(&output, "none\n", "x");
  EXPECT_TRUE(FlushTextOutput(&output));
  EXPECT_EQ(sink.bytes, "\r\nName: a\r\nb... none\r\n");
}

TEST(TextOutputTest, RemembersAFailedWrite) {
  MemorySink sink;
  sink.capacity = 10;
  TextOutput output = MakeTextOutput(WriteToMemory, &sink, 8);
  WriteText(&output, "123456789\n");  // 11 bytes: the last write fails
  EXPECT_FALSE(FlushTextOutput(&output));
  WriteText(&output, "y");
  EXPECT_FALSE(FlushTextOutput(&output)) << "a failure is never forgotten";
  EXPECT_EQ(sink.bytes, "123456789");
}

}  // namespace

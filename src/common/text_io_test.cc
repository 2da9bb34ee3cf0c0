// Tests of the text layer: end of text, read errors, CR LF output.
#include "common/text_io.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

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

TEST(TextOutputTest, WritesNumberedLines) {
  const std::string long_text(40, 'x');
  const struct {
    std::string before;
    std::int32_t number;
    std::string after;
    std::string expected;
  } cases[] = {
      {"", 0, "", "0"},
      {"a.", -2147483648, ".b\n", "a.-2147483648.b\r\n"},
      {"\n", 2147483647, "\n", "\r\n2147483647\r\n"},
      {long_text, 7, long_text, long_text + "7" + long_text},
  };
  // Buffers smaller than, near and larger than the lines, written three
  // times over so lines also straddle flushes.
  for (const std::size_t capacity :
       {std::size_t{8}, std::size_t{50}, std::size_t{4096}}) {
    for (const auto& c : cases) {
      MemorySink sink;
      TextOutput output = MakeTextOutput(WriteToMemory, &sink, capacity);
      const PreparedText before = PrepareText(c.before);
      const PreparedText after = PrepareText(c.after);
      for (int i = 0; i < 3; ++i) {
        WriteNumbered(&output, before, c.number, after);
      }
      EXPECT_TRUE(FlushTextOutput(&output));
      EXPECT_EQ(sink.bytes, c.expected + c.expected + c.expected)
          << c.before << c.number << " buffer " << capacity;
    }
  }
}

TEST(FormatInt32Test, MatchesTheLibrary) {
  std::vector<std::int32_t> numbers = {
      std::numeric_limits<std::int32_t>::min(),
      std::numeric_limits<std::int32_t>::max()};
  for (std::int64_t power = 1; power <= 1000000000; power *= 10) {
    for (const std::int64_t near : {power - 1, power, power + 1}) {
      numbers.push_back(static_cast<std::int32_t>(near));
      numbers.push_back(static_cast<std::int32_t>(-near));
    }
  }
  for (std::int32_t n = -100000; n <= 100000; ++n) numbers.push_back(n);
  std::mt19937 random(11);
  for (int i = 0; i < 200000; ++i) {
    numbers.push_back(static_cast<std::int32_t>(random()));
  }
  for (const std::int32_t number : numbers) {
    char expected[16];
    const char* const expected_end =
        std::to_chars(expected, expected + sizeof expected, number).ptr;
    char text[kInt32Chars];
    const char* const end = FormatInt32(text, number);
    ASSERT_EQ(std::string_view(text, static_cast<std::size_t>(end - text)),
              std::string_view(
                  expected, static_cast<std::size_t>(expected_end - expected)));
  }
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

// Tests of the text output: CR LF line ends, buffering, failed writes.
#include "common/text_output.h"

#include <gtest/gtest.h>

#include <string>

#include "test_support.h"

namespace {

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
  // A piece larger than the whole buffer goes straight to the sink.
  MemorySink full;
  full.capacity = 0;
  TextOutput straight = MakeTextOutput(WriteToMemory, &full, 4);
  WriteText(&straight, "12345");
  EXPECT_FALSE(FlushTextOutput(&straight));
}

}  // namespace

// Tests of the job-script lines.
#include "jobscript/job_script_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <string>

#include "jobscript/entry_order.h"
#include "test_support.h"

namespace {

constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();

TEST(SplitOutputNameTest, SplitsAtTheLastDotOfTheFileName) {
  const struct {
    std::string name;
    std::string stem;
    std::string extension;
  } cases[] = {
      {"movie.avi", "movie", "avi"},
      {"movie.part.avi", "movie.part", "avi"},
      {"clips\\movie.avi", "clips\\\\movie", "avi"},
      {"dir.old\\movie", "dir.old\\\\movie", ""},
      {"movie", "movie", ""},
      {"m", "m", ""},
      {".avi", ".avi", ""},
      {"a.", "a", ""},
      {"movie\\", "movie\\\\", ""},
      {"say\"hi\".avi", "say\\\"hi\\\"", "avi"},
      {"movie.a\"vi", "movie", "a\\\"vi"},
  };
  for (const auto& c : cases) {
    std::string stem = "old";
    std::string extension = "old";
    SplitOutputName(c.name, &stem, &extension);
    EXPECT_EQ(stem, c.stem) << c.name;
    EXPECT_EQ(extension, c.extension) << c.name;
  }
}

// Writes the lines for `entries` through a buffer of `capacity` bytes and
// returns the bytes written; sets `largest_write` to the most bytes that one
// write handed over.
std::string Write(EntryTable entries, const std::string& output_name,
                  std::size_t capacity = kOutputBufferSize,
                  std::size_t* largest_write = nullptr) {
  MemorySink sink;
  TextOutput output = MakeTextOutput(WriteToMemory, &sink, capacity);
  SortEntries(&entries);
  const LineTexts texts = ComposeLines(output_name);
  WriteResultLines(&output, entries, texts);
  EXPECT_TRUE(FlushTextOutput(&output));
  if (largest_write != nullptr) *largest_write = sink.largest_write;
  return sink.bytes;
}

TEST(WriteResultLinesTest, OpensTheFirstPartAndAppendsTheRest) {
  EXPECT_EQ(Write({{2, 3000}, {1, 0}}, "movie.avi"),
            "Framequill.Open(\"movie.1.avi\",0,0);\r\n"
            "Framequill.Append(\"movie.2.avi\");\r\n");
  EXPECT_EQ(Write({{3, 20}, {1, 10}, {2, 10}}, "d\\m.avi"),
            "Framequill.Open(\"d\\\\m.1.avi\",0,0);\r\n"
            "Framequill.Append(\"d\\\\m.2.avi\");\r\n"
            "Framequill.Append(\"d\\\\m.3.avi\");\r\n");
  EXPECT_EQ(Write({{7, 5}}, "movie"), "Framequill.Open(\"movie.7.\",0,0);\r\n");
  EXPECT_EQ(Write({{0, 1}, {-4, -1}, {kMin, kMax}}, "m.avi"),
            "Framequill.Open(\"m.-4.avi\",0,0);\r\n"
            "Framequill.Append(\"m.0.avi\");\r\n"
            "Framequill.Append(\"m.-2147483648.avi\");\r\n");
  // Zeros inside a number and behind its first word of digits.
  EXPECT_EQ(Write({{100000001, 0}, {10000, 1}}, "m"),
            "Framequill.Open(\"m.100000001.\",0,0);\r\n"
            "Framequill.Append(\"m.10000.\");\r\n");
  EXPECT_EQ(Write({}, "movie.avi"), "");
}

// Buffers smaller than one line, near a line's size and larger than all
// lines give the same bytes: lines straddle flushes, and lines longer than
// the buffer go out piece by piece.
TEST(WriteResultLinesTest, SameBytesAtEveryBufferSize) {
  const EntryTable entries = {{kMin, 1}, {0, 2}, {kMax, 3}, {-7, 4}, {12, 5}};
  for (const std::string& name :
       {std::string("m.avi"), std::string(40, 'x') + ".avi",
        "a\\b." + std::string(40, 'e')}) {
    const std::string expected = Write(entries, name);
    ASSERT_NE(expected.find("-2147483648"), std::string::npos);
    for (const std::size_t capacity : {1u, 8u, 50u, 64u, 100u}) {
      EXPECT_EQ(Write(entries, name, capacity), expected)
          << name << " buffer " << capacity;
    }
  }
}

// Output names of every length from 1 to 100, each taking its own path
// through the fixed-size moves and the room checks, written through a
// buffer that their lines overrun many times: the bytes are those of a plain
// composition, and no write hands over more than the buffer holds.
TEST(WriteResultLinesTest, EveryNameLengthThroughASmallBuffer) {
  constexpr std::size_t kCapacity = 200;
  EntryTable entries;
  for (std::uint32_t i = 0; i < 300; ++i) {
    entries.push_back({static_cast<std::int32_t>(i * 2654435761u), 0});
  }
  for (std::size_t length = 1; length <= 100; ++length) {
    std::string name(length, 'm');
    if (length > 4) name[length - 4] = '.';
    const std::size_t dot = std::min(name.find('.'), length);
    const std::string stem = name.substr(0, dot);
    const std::string extension = name.substr(std::min(dot + 1, length));
    std::string expected;
    for (const PartEntry& entry : entries) {
      expected +=
          (expected.empty() ? "Framequill.Open(\"" : "Framequill.Append(\"") +
          stem + "." + std::to_string(entry.part_number) + "." + extension +
          (expected.empty() ? "\",0,0);\r\n" : "\");\r\n");
    }
    std::size_t largest_write = 0;
    EXPECT_EQ(Write(entries, name, kCapacity, &largest_write), expected)
        << name;
    EXPECT_LE(largest_write, kCapacity) << name;
  }
}

TEST(WriteResultLinesTest, NoQuoteInTheNameEndsTheString) {
  EXPECT_EQ(Write({{1, 0}}, "x\");Evil();(\".avi"),
            "Framequill.Open(\"x\\\");Evil();(\\\".1.avi\",0,0);\r\n");
}

}  // namespace

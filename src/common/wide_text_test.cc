// Tests of the UTF-8 and UTF-16 conversions, the long-path form and the
// measures of a name.
#include "common/wide_text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(WideTextTest, ConvertsBothWaysExactly) {
  const struct {
    std::string utf8;
    std::u16string utf16;
  } cases[] = {
      {"", u""},
      {"a\\b:c", u"a\\b:c"},
      {"\xC3\xA9\xCE\xA9mega", u"\u00E9\u03A9mega"},
      {"\xE6\x9D\xB1\xE4\xBA\xAC\xEF\xBC\xBC", u"\u6771\u4EAC\uFF3C"},
      {"\xF0\x9F\x8E\xAC.", u"\U0001F3AC."},
      // Surrogates without their partner, as a Windows name may hold them.
      {"a\xED\xA0\x80", {u'a', 0xD800}},
      {"\xED\xB0\x80\xED\xA0\x80", {0xDC00, 0xD800}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Utf16ToUtf8(c.utf16), c.utf8) << c.utf8;
    EXPECT_EQ(Utf8ToUtf16(c.utf8), c.utf16) << c.utf8;
  }
}

TEST(WideTextTest, BytesThatBeginNoLetterGiveOneReplacementEach) {
  const struct {
    std::string utf8;
    std::u16string utf16;
  } cases[] = {
      {"\xFF\x41", u"\uFFFDA"},
      {"\xE0\x81\x9C", u"\uFFFD\uFFFD\uFFFD"},            // An overlong '\\'.
      {"\xE6\x9D", u"\uFFFD\uFFFD"},                      // Cut short.
      {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // Past U+10FFFF.
      {"\xE6\x41\xBC", u"\uFFFDA\uFFFD"},
  };
  for (const auto& c : cases) EXPECT_EQ(Utf8ToUtf16(c.utf8), c.utf16);
}

TEST(WideTextTest, MeasuresLettersNotBytes) {
  const std::string pair = "\xF0\x9F\x8E\xAC";  // Two UTF-16 units.
  const struct {
    std::string text;
    std::size_t units, prefix;
  } cases[] = {
      {"abc", 2, 2},
      {"abc", 5, 3},
      {"\xE6\x9D\xB1\xE4\xBA\xAC", 1, 3},
      {pair + "a", 1, 0},
      {pair + "a", 2, 4},
      {"a" + pair, 2, 1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Utf8PrefixWithinUnits(c.text, c.units), c.prefix) << c.text;
  }
  EXPECT_EQ(IncompleteUtf8Tail("a\xE6\x9D"), 2u);
  EXPECT_EQ(IncompleteUtf8Tail("\xE6\x9D\xB1"), 0u);
  EXPECT_EQ(IncompleteUtf8Tail("a\xF0\x9F\x8E"), 3u);
  EXPECT_EQ(IncompleteUtf8Tail("\xCE\xA9"
                               "a"),
            0u);
}

TEST(WideTextTest, LongPathForm) {
  const struct {
    std::u16string path, form;
  } cases[] = {
      {u"C:\\a\\b.parts", u"\\\\?\\C:\\a\\b.parts"},
      {u"\\\\server\\share\\b", u"\\\\?\\UNC\\server\\share\\b"},
      {u"\\\\?\\C:\\a", u"\\\\?\\C:\\a"},
      {u"\\\\.\\pipe\\a", u"\\\\.\\pipe\\a"},
  };
  for (const auto& c : cases) EXPECT_EQ(LongPathForm(c.path), c.form);
}

// Two bytes a letter outside ASCII, one for a letter of two units: a
// double-byte code page that lacks the latter.
std::size_t DoubleByteWidth(std::u16string_view letter) {
  return letter.size() == 1 ? 2 : 1;
}

TEST(WideTextTest, AnsiFormCountsAsTheCodePageAndMapsBack) {
  const std::string katakana = "\xE3\x82\xBD";  // 0x83 0x5C in code page 932.
  const std::string text = "a.b" + katakana + "\xF0\x9F\x8E\xAC.x";
  const std::string form = AnsiForm(text, DoubleByteWidth);
  EXPECT_EQ(form, "a.b\x80\x80\x80.x");
  const struct {
    std::size_t position, offset;
  } cases[] = {{0, 0}, {1, 1}, {2, 2}, {6, 10}, {7, 11}, {8, 12}, {99, 12}};
  for (const auto& c : cases) {
    EXPECT_EQ(OffsetOfAnsiPosition(text, form, c.position), c.offset)
        << c.position;
  }
}

}  // namespace

// Tests of lowering and of the derivation of the two file names.
#include "app/file_names.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(DeriveFileNamesTest, DerivesPartsListAndResultName) {
  const struct {
    std::string argument;
    std::string parts_list;
    std::string result;
  } cases[] = {
      // A video, or one of its parts numbered with one to three digits.
      {"movie.avi", "movie.parts", "movie.jobs.part"},
      {"movie.1.avi", "movie.parts", "movie.jobs.part"},
      {"movie.01.avi", "movie.parts", "movie.jobs.part"},
      {"movie.001.avi", "movie.parts", "movie.jobs.part"},
      {"a.123.avi", "a.parts", "a.jobs.part"},
      {"movie.0001.avi", "movie.0001.parts", "movie.0001.jobs.part"},
      {"movie.1a.avi", "movie.1a.parts", "movie.1a.jobs.part"},
      {"d:\\clips\\movie.avi", "d:\\clips\\movie.parts",
       "d:\\clips\\movie.jobs.part"},
      {"ab.avi", "ab.parts", "ab.jobs.part"},
      {"x.1.avi", "x.parts", "x.jobs.part"},
      {"a.12.avi", "a.parts", "a.jobs.part"},
      {".1.avi", ".1.parts", ".1.jobs.part"},
      // The list itself.
      {"movie.parts", "movie.parts", "movie.jobs.part"},
      {"ab.parts", "ab.parts", "ab.jobs.part"},
      // Too short for a suffix, or no known suffix at all.
      {"x.avi", "x.avi.parts", "x.jobs.part"},
      {"a.parts", "a.parts.parts", "a.jobs.part"},
      {"movie.mpg", "movie.mpg.parts", "movie.jobs.part"},
      {"movie", "movie.parts", "movie.jobs.part"},
      {"c:\\dir.d\\movie", "c:\\dir.d\\movie.parts",
       "c:\\dir.d\\movie.jobs.part"},
      {"c:movie", "c:movie.parts", "c:movie.jobs.part"},
      {"x.y:movie", "x.y:movie.parts", "x.y:movie.jobs.part"},
      {"x.y\\movie", "x.y\\movie.parts", "x.y\\movie.jobs.part"},
      {"x:y.z", "x:y.z.parts", "x:y.jobs.part"},
      {"a.b/c", "a.b/c.parts", "a.jobs.part"},
      {".x", ".x.parts", ".x.jobs.part"},
      {"a", "a.parts", "a.jobs.part"},
      {"", ".parts", ".jobs.part"},
  };
  for (const auto& c : cases) {
    std::string name = c.argument;
    std::string result;
    DeriveFileNames(&name, &result);
    EXPECT_EQ(name, c.parts_list) << c.argument;
    EXPECT_EQ(result, c.result) << c.argument;
  }
}

TEST(LowerTextTest, LowersLettersAndKeepsTheLength) {
  std::string text = "D:\\Clips\\Movie.01.AVI@[`{AZ";
  LowerText(&text);
  EXPECT_EQ(text, "d:\\clips\\movie.01.avi@[`{az");
}

#ifndef _WIN32
// Without a code page only 'A' to 'Z' change: bytes of other letters in any
// encoding stay as they are.
TEST(LowerTextTest, KeepsBytesOutsideAsciiElsewhere) {
  std::string text = "\xC4\xD6\xDC\x80\xFF\xC3\x84";
  const std::string unchanged = text;
  LowerText(&text);
  EXPECT_EQ(text, unchanged);
}
#endif

}  // namespace

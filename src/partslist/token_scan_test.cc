// Tests of the word-at-a-time entry scan against a plain byte-by-byte
// reading: every byte value at every place of a token, with the token at
// every alignment in a word. The key/value split shares its field scans.
#include "partslist/token_scan.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

namespace {

bool IsSpace(char c) {
  return std::string_view(" \t\n\v\f\r").find(c) != std::string_view::npos;
}

// Length of the token at the start of `text`.
std::size_t TokenLength(std::string_view text) {
  std::size_t length = 0;
  while (length < text.size() && !IsSpace(text[length])) ++length;
  return length;
}

// The pieces of the token's text, which ends at a zero byte, between runs of
// `delimiter`.
std::vector<std::string_view> Fields(std::string_view token, char delimiter) {
  std::string_view text = token.substr(0, TokenLength(token));
  text = text.substr(0, text.find('\0'));
  std::vector<std::string_view> fields;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t start = at;
    while (at < text.size() && text[at] != delimiter) ++at;
    if (at > start) fields.push_back(text.substr(start, at - start));
    if (at < text.size()) ++at;
  }
  return fields;
}

// Sign and leading digits of `field`, accumulated modulo 2^32.
std::int32_t Number(std::string_view field) {
  const bool negative = !field.empty() && field[0] == '-';
  std::size_t at = !field.empty() && (field[0] == '-' || field[0] == '+');
  std::uint32_t value = 0;
  for (; at < field.size() && field[at] >= '0' && field[at] <= '9'; ++at) {
    value = value * 10 + static_cast<std::uint32_t>(field[at] - '0');
  }
  return static_cast<std::int32_t>(negative ? 0u - value : value);
}

// Reads each token with each byte value put at each of its places, copied
// to each offset from an 8-byte boundary. What the scans may read behind
// the token holds digits and commas, which must not count.
TEST(TokenScanTest, ParsesEntriesLikeAPlainReading) {
  const std::string behind = "\n9,9,9,9";
  ASSERT_EQ(behind.size(), kScanReadAhead);
  for (const std::string_view token :
       {"12345678,ab,c,-123456789", ",,1,,x,,y,,+42,z",
        "98765432109,a,b,1234567"}) {
    for (std::size_t place = 0; place < token.size(); ++place) {
      for (int byte = 0; byte < 256; ++byte) {
        std::string variant(token);
        variant[place] = static_cast<char>(byte);
        const auto fields = Fields(variant, ',');
        const std::string text = variant + behind;
        const std::string label = testing::PrintToString(variant);
        for (std::size_t offset = 0; offset < 8; ++offset) {
          alignas(8) char buffer[64] = {};
          text.copy(buffer + offset, text.size());
          std::int32_t part_number = 7;
          std::int32_t order_key = 7;
          const char* const end =
              ParseEntry(buffer + offset, &part_number, &order_key);
          EXPECT_EQ(part_number, fields.empty() ? 0 : Number(fields[0]))
              << label;
          EXPECT_EQ(order_key, fields.size() < 4 ? 0 : Number(fields[3]))
              << label;
          EXPECT_EQ(static_cast<std::size_t>(end - buffer - offset),
                    TokenLength(variant))
              << label;
        }
      }
    }
  }
}

// Each text copied to a zeroed buffer: zero bytes stop the digits like any
// non-digit and cover what the conversion may read ahead.
TEST(TokenScanTest, ParsesNumbersWithWrapAround) {
  const struct {
    std::string_view text;
    std::int32_t expected;
  } cases[] = {
      {"", 0},
      {"-", 0},
      {"+7", 7},
      {"-0", 0},
      {"12abc", 12},
      {"a12", 0},
      {"--5", 0},
      {"+-5", 0},
      {" 5", 0},
      {"007", 7},
      {"2147483647", 2147483647},
      {"2147483648", std::numeric_limits<std::int32_t>::min()},
      {"-2147483648", std::numeric_limits<std::int32_t>::min()},
      {"-2147483649", 2147483647},
      {"4294967295", -1},
      {"4294967297", 1},
      {"99999999999", 1215752191},
  };
  for (const auto& c : cases) {
    char buffer[32] = {};
    c.text.copy(buffer, c.text.size());
    std::int32_t value = 12345;  // No row expects it: every row is stored.
    ParseNumber(buffer, &value);
    EXPECT_EQ(value, c.expected) << c.text;
  }
}

}  // namespace

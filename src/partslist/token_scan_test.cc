// Tests of the word-at-a-time token scans against a plain byte-by-byte
// reading: every byte value at every place of a token, with the token at
// every alignment in a word.
#include "partslist/token_scan.h"

#include <gtest/gtest.h>

#include <cstdint>
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

// Calls `check(at, variant)` for `token` with each byte value put at each of
// its places, copied to each offset from an 8-byte boundary. What the scans
// may read behind the token holds digits and commas, which must not count.
template <typename Check>
void ForEachVariant(std::string_view token, Check check) {
  const std::string behind = "\n9,9,9,9";
  static_assert(sizeof "\n9,9,9,9" - 1 == kScanReadAhead);
  for (std::size_t place = 0; place < token.size(); ++place) {
    for (int byte = 0; byte < 256; ++byte) {
      std::string variant(token);
      variant[place] = static_cast<char>(byte);
      for (std::size_t offset = 0; offset < 8; ++offset) {
        alignas(8) char buffer[64] = {};
        const std::string text = variant + behind;
        text.copy(buffer + offset, text.size());
        check(buffer + offset, variant);
      }
    }
  }
}

TEST(TokenScanTest, ParsesEntriesLikeAPlainReading) {
  for (const std::string_view token :
       {"12345678,ab,c,-123456789", ",,1,,x,,y,,+42,z",
        "98765432109,a,b,1234567"}) {
    ForEachVariant(token, [](const char* at, const std::string& variant) {
      const auto fields = Fields(variant, ',');
      std::int32_t part_number = 7;
      std::int32_t order_key = 7;
      const char* const end = ParseEntry(at, &part_number, &order_key);
      EXPECT_EQ(part_number, fields.empty() ? 0 : Number(fields[0]))
          << testing::PrintToString(variant);
      EXPECT_EQ(order_key, fields.size() < 4 ? 0 : Number(fields[3]))
          << testing::PrintToString(variant);
      EXPECT_EQ(static_cast<std::size_t>(end - at), TokenLength(variant))
          << testing::PrintToString(variant);
    });
  }
}

TEST(TokenScanTest, SplitsKeyValueTokensLikeAPlainReading) {
  for (const std::string_view token : {"Output:movie.avi", "::In::x:y"}) {
    ForEachVariant(token, [](const char* at, const std::string& variant) {
      const auto fields = Fields(variant, ':');
      std::string_view key;
      std::string_view value;
      SplitKeyValue(at, &key, &value);
      EXPECT_EQ(key, fields.empty() ? "" : fields[0])
          << testing::PrintToString(variant);
      EXPECT_EQ(value, fields.size() < 2 ? "" : fields[1])
          << testing::PrintToString(variant);
    });
  }
}

}  // namespace

// Fuzz target of the parts-list reader. Arbitrary bytes are fed to it in
// reads of varying size, with or without a read error at the end, and what it
// finds is compared with a plain reading of the whole text at once, so that
// block boundaries, buffer growth and the end-of-text byte cannot change the
// result.
//
// The first input byte steers the run, the rest is the list:
//   bits 0-2  size of each read: 1, 2, 3, 5, 16 or 4096 bytes, or all at once
//   bit 3     the data ends in a read error instead of a plain end
//   bits 4-7  all set: a run of one byte, as long as a read block, goes into
//             the list, so that the buffer's move and growth paths are
//             reached; the next input byte is that byte and the one after it
//             picks where the run goes. Reads of fewer than 16 bytes then get
//             4093 bytes longer, which keeps them at odd sizes and the run
//             fast. (Rare on purpose: at the program's block size such a run
//             takes milliseconds. The fuzz preset's block is small, so the
//             run is short and short inputs reach those paths without it.)
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "common/text_input.h"
#include "partslist/parts_list_reader.h"
#include "test_support.h"

namespace {

constexpr std::size_t kAll = std::numeric_limits<std::size_t>::max();
constexpr std::size_t kReadSizes[] = {1, 2, 3, 5, 16, 4096, kAll, kAll};

void Check(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "parts-list reader: %s\n", what);
  std::abort();
}

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' ||
         c == '\r';
}

// The next non-empty piece of `text` between separators from `*at` on, or an
// empty piece if there is none; moves `*at` behind it.
template <typename IsSeparator>
std::string_view NextPiece(std::string_view text, std::size_t* at,
                           IsSeparator is_separator) {
  while (*at < text.size() && is_separator(text[*at])) ++*at;
  const std::size_t start = *at;
  while (*at < text.size() && !is_separator(text[*at])) ++*at;
  return text.substr(start, *at - start);
}

// The non-empty pieces of `text` between separators.
template <typename IsSeparator>
std::vector<std::string_view> Split(std::string_view text,
                                    IsSeparator is_separator) {
  std::vector<std::string_view> pieces;
  std::size_t at = 0;
  for (std::string_view piece = NextPiece(text, &at, is_separator);
       !piece.empty(); piece = NextPiece(text, &at, is_separator)) {
    pieces.push_back(piece);
  }
  return pieces;
}

// Non-empty piece number `n` (from 0) of `text` between separators, or an
// empty piece if there are fewer: a field without a vector per token.
template <typename IsSeparator>
std::string_view Piece(std::string_view text, std::size_t n,
                       IsSeparator is_separator) {
  std::size_t at = 0;
  std::string_view piece = NextPiece(text, &at, is_separator);
  for (; n > 0 && !piece.empty(); --n) {
    piece = NextPiece(text, &at, is_separator);
  }
  return piece;
}

// Sign and leading digits of `field`, reduced modulo 2^32 as a signed value.
std::int32_t Number(std::string_view field) {
  constexpr std::int64_t kModulus = std::int64_t{1} << 32;
  const bool negative = !field.empty() && field[0] == '-';
  std::size_t at = !field.empty() && (field[0] == '-' || field[0] == '+');
  std::int64_t value = 0;
  for (; at < field.size() && field[at] >= '0' && field[at] <= '9'; ++at) {
    value = (value * 10 + (field[at] - '0')) % kModulus;
  }
  if (negative) value = (kModulus - value) % kModulus;
  if (value >= kModulus / 2) value -= kModulus;
  return static_cast<std::int32_t>(value);
}

struct Reading {
  bool valid = false;
  std::string output_name;
  EntryTable entries;
};

// Reads `text` as a parts list in one go, straight from the format's rules.
Reading ReadAtOnce(std::string_view text, bool ends_in_read_error) {
  Reading reading;
  const std::size_t end_of_text = text.find('\x1a');
  // Nothing after a 0x1A byte is read, a read error behind it included.
  const bool error_seen =
      ends_in_read_error && end_of_text == std::string_view::npos;
  text = text.substr(0, end_of_text);
  std::vector<std::string_view> tokens = Split(text, IsSpace);
  for (std::string_view& token : tokens) {
    token = token.substr(0, token.find('\0'));
  }
  if (tokens.size() < 3) return reading;
  const auto is_colon = [](char c) { return c == ':'; };
  const auto is_comma = [](char c) { return c == ','; };
  constexpr std::string_view kKeys[] = {"Input", "Output", "Options"};
  for (std::size_t i = 0; i < 3; ++i) {
    if (Piece(tokens[i], 0, is_colon) != kKeys[i]) return reading;
    if (i == 1) {
      reading.output_name = Piece(tokens[i], 1, is_colon);
      if (reading.output_name.empty()) return reading;
    }
  }
  for (std::size_t i = 3; i < tokens.size(); ++i) {
    // A missing field is empty, and reads as 0.
    const std::int32_t part = Number(Piece(tokens[i], 0, is_comma));
    const std::int32_t key = Number(Piece(tokens[i], 3, is_comma));
    if (part != 0 || key != 0) reading.entries.push_back({part, key});
  }
  reading.valid = !error_seen;
  return reading;
}

bool SameEntries(const EntryTable& a, const EntryTable& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i].part_number != b[i].part_number ||
        a[i].order_key != b[i].order_key) {
      return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  if (size == 0) return 0;
  const unsigned control = data[0];
  std::size_t read_size = kReadSizes[control & 7];
  std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  if ((control & 0xf0) == 0xf0 && text.size() >= 2) {
    const char filler = text[0];
    const auto place = static_cast<unsigned char>(text[1]);
    text.erase(0, 2);
    text.insert(place % (text.size() + 1), kTextBlockSize, filler);
    if (read_size < 16) read_size += 4093;
  }

  MemorySource source{text, read_size, (control & 8) != 0};
  TextInput input = MakeTextInput(ReadFromMemory, &source);
  std::string output_name;
  EntryTable entries;
  const bool valid = ReadPartsList(&input, 0, &output_name, &entries);

  const Reading expected = ReadAtOnce(text, source.fail_at_end);
  Check(valid == expected.valid, "validity differs from a reading at once");
  if (valid) {
    Check(output_name == expected.output_name, "output name differs");
    Check(SameEntries(entries, expected.entries), "entries differ");
  }
  return 0;
}

// Word-at-a-time scans of the parts list's tokens, and the one field rule of
// entries and key/value tokens.
#include "partslist/token_scan.h"

#include <array>
#include <bit>
#include <cstring>

namespace {

// The scans look at eight bytes of text at once, the first byte in the
// lowest bits of a word.
static_assert(std::endian::native == std::endian::little,
              "word-at-a-time scans expect little-endian byte order");

constexpr std::uint64_t kOnes = 0x0101010101010101u;
constexpr std::uint64_t kHighBits = 0x8080808080808080u;

inline std::uint64_t LoadWord(const char* at) {
  std::uint64_t word;
  std::memcpy(&word, at, sizeof word);
  return word;
}

// The bytes that stop a search, and one past the largest of them.
struct StopSet {
  std::array<bool, 256> stops;
  std::uint64_t limit;
};

// A zero byte inside a token ends the token's text, and the rest of the token
// is skipped: the list is read as text, and text ends at its first zero byte.
constexpr bool EndsTokenText(char c) { return c == '\0'; }

// White space, which ends a token, and for a field scan also the bytes that
// end the token's text and `delimiter`, which ends the field.
constexpr StopSet MakeStopSet(bool field_scan, char delimiter) {
  StopSet set{};
  for (int byte = 0; byte < 256; ++byte) {
    const char c = static_cast<char>(byte);
    set.stops[byte] =
        IsTokenSpace(c) || (field_scan && (EndsTokenText(c) || c == delimiter));
    if (set.stops[byte]) set.limit = byte + 1;
  }
  return set;
}

constexpr StopSet kTokenStops = MakeStopSet(false, '\0');
template <char kDelimiter>
constexpr StopSet kFieldStops = MakeStopSet(true, kDelimiter);

// Returns the first byte at or after `at` that is in `set`.
//
// Why (word - kOnes * limit) & ~word & kHighBits marks the bytes below
// `limit` (at most 0x80) exactly up to the first of them: take a byte b
// alone. If b < limit, b - limit wraps around to 256 + b - limit >= 0x80, so
// its high bit is set, and that of ~b too, as b < 0x80. If b >= limit,
// b - limit has its high bit set only if b >= 0x80 + limit, and then ~b has
// it clear. So a byte alone is marked if and only if it is below `limit`.
// In the word, a byte below `limit` borrows 1 from the byte above it, the
// next one in the text. Borrows run only that way and the first one comes
// from the first byte below `limit`, so every byte up to it is worked out
// as if alone. Later bytes may be marked falsely (`limit` itself, less a
// borrow, wraps too); the search takes the lowest mark, which is true.
// Not every byte below `limit` stops the search (for ',' the bytes '!' to
// '+', for example, pass the test too), so the table decides, and the search
// goes on behind a byte that is no stop.
inline const char* FindStop(const char* at, const StopSet& set) {
  const std::uint64_t limit = set.limit;
  for (;;) {
    const std::uint64_t word = LoadWord(at);
    const std::uint64_t marks = (word - kOnes * limit) & ~word & kHighBits;
    if (marks == 0) {
      at += sizeof word;
      continue;
    }
    at += std::countr_zero(marks) / 8;
    if (set.stops[static_cast<unsigned char>(*at)]) return at;
    ++at;
  }
}

// Number of leading decimal digits in `word` (0 to 8). Modulo 256, a byte b
// gives b + 0x46 with its high bit set for b from 0x3A (one past '9') to
// 0xB9, and b - 0x30 with it set for b below 0x30 ('0') and from 0xB0 on:
// between them every byte but the digits, which give 0x76 to 0x7F and 0x00
// to 0x09. Only a non-digit starts a carry (b >= 0xBA) or a borrow
// (b < 0x30), and both run only toward later bytes, so the first non-digit
// is found exactly.
inline int LeadingDigits(std::uint64_t word) {
  const std::uint64_t no_digit =
      ((word + 0x46 * kOnes) | (word - 0x30 * kOnes)) & kHighBits;
  return no_digit == 0 ? 8 : std::countr_zero(no_digit) / 8;
}

// Value of the first `count` (1 to 8) digits of `word`, shown on "1234":
// 1. Subtracting '0' from every byte leaves the digits' values; shifting
//    left by 8 * (8 - count) bits drops the bytes behind the digits and puts
//    zeros in front, as leading zero digits. Bytes, first one first:
//    0 0 0 0 1 2 3 4.
// 2. word * 10 + (word >> 8) makes every byte ten times itself plus the next
//    one: 0 0 0 1 12 23 34 40. Bytes 0, 2, 4 and 6 now hold the digit pairs
//    p0 p1 p2 p3 = 0 0 12 34; at most 99 each, so no byte carries.
// 3. Bytes 0 and 4 as two 32-bit halves, p0 + p2 * 2^32, times
//    100 + 10^6 * 2^32 leave 10^6 * p0 + 100 * p2 in the upper half (the
//    term p2 * 10^6 * 2^64 falls off the word). Bytes 2 and 6 times
//    1 + 10^4 * 2^32 leave 10^4 * p1 + p3 there. The lower halves,
//    100 * p0 + p1 at most 9999, never carry into the upper one, whose sum
//    is the value: 10^6 * 0 + 10^4 * 0 + 100 * 12 + 34 = 1234.
inline std::uint32_t DigitsValue(std::uint64_t word, int count) {
  word = (word - 0x30 * kOnes) << (8 * (8 - count));
  word = word * 10 + (word >> 8);
  word = ((word & 0x000000FF000000FFu) * (100 + (1000000ull << 32)) +
          ((word >> 16) & 0x000000FF000000FFu) * (1 + (10000ull << 32))) >>
         32;
  return static_cast<std::uint32_t>(word);
}

// Returns the end of the field that `at` points into: its first
// `kDelimiter`, or where the token's text ends.
template <char kDelimiter>
inline const char* FieldEnd(const char* at) {
  static_assert(kFieldStops<kDelimiter>.limit <= 0x80,
                "FindStop marks bytes below a limit of at most 0x80");
  return FindStop(at, kFieldStops<kDelimiter>);
}

// The field rule of every token, with ',' for entries and ':' for key/value
// tokens. Moves `*at` past the run of delimiters there: a run is one
// separator, and leading ones are skipped. Returns false if the token's text
// ends behind it, so that there are no empty fields.
template <char kDelimiter>
inline bool SkipSeparator(const char** at) {
  const char* next = *at;
  while (*next == kDelimiter) ++next;
  *at = next;
  // Behind the run, the only stops left are the ends of the token's text.
  return !kFieldStops<kDelimiter>.stops[static_cast<unsigned char>(*next)];
}

// Moves `*at` from inside a field to the start of the next one. Returns
// false if there is none.
template <char kDelimiter>
inline bool NextField(const char** at) {
  *at = FieldEnd<kDelimiter>(*at);
  return SkipSeparator<kDelimiter>(at);
}

// Sets `field` to the next field from `*at` on and moves `*at` behind it.
// Returns false, changing neither, if there is none.
template <char kDelimiter>
bool TakeField(const char** at, std::string_view* field) {
  const char* start = *at;
  if (!SkipSeparator<kDelimiter>(&start)) return false;
  *at = FieldEnd<kDelimiter>(start);
  *field = std::string_view(start, static_cast<std::size_t>(*at - start));
  return true;
}

}  // namespace

const char* FindTokenEnd(const char* at) { return FindStop(at, kTokenStops); }

// Up to eight digits are converted at once, longer numbers go on digit by
// digit. Unsigned arithmetic wraps around modulo 2^32 without undefined
// behaviour; the conversion back to signed keeps the two's-complement bits.
const char* ParseNumber(const char* at, std::int32_t* value) {
  const bool negative = *at == '-';
  if (*at == '-' || *at == '+') ++at;
  const std::uint64_t word = LoadWord(at);
  const int count = LeadingDigits(word);
  std::uint32_t number = 0;
  if (count > 0) {
    number = DigitsValue(word, count);
    at += count;
  }
  if (count == 8) {
    for (std::uint32_t digit;
         (digit = static_cast<unsigned char>(*at) - std::uint32_t{'0'}) <= 9;
         ++at) {
      number = number * 10u + digit;
    }
  }
  *value = static_cast<std::int32_t>(negative ? 0u - number : number);
  return at;
}

void SplitKeyValue(const char* token, std::string_view* key,
                   std::string_view* value) {
  *key = std::string_view();
  *value = std::string_view();
  if (TakeField<':'>(&token, key)) TakeField<':'>(&token, value);
}

// Runs once per entry: every call in it, ParseNumber's too, is inlined, which
// the compiler would not do on its own for a function that others call.
[[gnu::flatten]] const char* ParseEntry(const char* token,
                                        std::int32_t* part_number,
                                        std::int32_t* order_key) {
  *part_number = 0;
  *order_key = 0;
  const char* at = token;
  if (SkipSeparator<','>(&at)) {
    at = ParseNumber(at, part_number);
    // Fields 2 and 3 carry nothing used, but must exist for field 4 to count.
    if (NextField<','>(&at) && NextField<','>(&at) && NextField<','>(&at)) {
      at = ParseNumber(at, order_key);
    }
  }
  // Past a zero byte the token's text has ended: skip what is left of it.
  return FindTokenEnd(at);
}

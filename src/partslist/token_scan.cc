// Word-at-a-time scans of the parts list's tokens, and the one field rule of
// entries and key/value tokens.
#include "partslist/token_scan.h"

#include <array>
#include <bit>
#include <cstring>

#include "common/machine_word.h"

namespace {

// The scans look at a native word of text at once.
using machine_word::kOnes;
using machine_word::kPowersOfTen;
using machine_word::kWordBytes;
using machine_word::Word;
static_assert(kWordBytes <= kScanReadAhead, "a word past a stop at most");

// A 1 in every byte's high bit.
constexpr Word kHighBits = kOnes * 0x80;

inline Word LoadWord(const char* at) {
  Word word;
  std::memcpy(&word, at, sizeof word);
  return word;
}

// The lowest byte whose high bit is set in `marks`, or kWordBytes if none.
inline std::size_t FirstMarkedByte(Word marks) {
  return static_cast<unsigned>(std::countr_zero(marks)) / 8;
}

// The bytes that stop a search, and one past the largest of them.
struct StopSet {
  std::array<bool, 256> stops;
  Word limit;
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

// Returns the first byte at or after `at` that is in `set`. In a word,
// (word - kOnes * limit) & kHighBits marks the first byte below `limit` (at
// most 0x80) or from 0x80 + limit on: b - limit wraps around for b < limit,
// and otherwise has its high bit set only for b >= 0x80 + limit. Only a byte
// below `limit` borrows, from the next byte, so the bytes up to the first
// mark are worked out exactly; later marks may be false. The table decides
// whether a marked byte stops (for ',' also '!' to '+' and 0xAD on are
// marked); a word without a mark holds no stop. Each word is loaded behind
// a byte known to be no stop, so a stop right at `at`, as behind a number,
// costs no load, and a word ends at most kWordBytes - 1 bytes past the stop.
inline const char* FindStop(const char* at, const StopSet& set) {
  const Word limit = set.limit;
  while (!set.stops[static_cast<unsigned char>(*at)]) {
    Word marks;
    while ((marks = (LoadWord(++at) - kOnes * limit) & kHighBits) == 0) {
      at += kWordBytes - 1;
    }
    at += FirstMarkedByte(marks);
  }
  return at;
}

// Number of leading decimal digits in `word` (0 to kWordBytes). Modulo 256,
// a byte b gives b + 0x46 with its high bit set for b from 0x3A (one past
// '9') to 0xB9, and b - 0x30 with it set for b below 0x30 ('0') and from
// 0xB0 on: between them every byte but the digits, which give 0x76 to 0x7F
// and 0x00 to 0x09. Only a non-digit starts a carry (b >= 0xBA) or a borrow
// (b < 0x30), and both run only toward later bytes, so the first non-digit
// is found exactly.
inline std::size_t LeadingDigits(Word word) {
  return FirstMarkedByte(((word + 0x46 * kOnes) | (word - 0x30 * kOnes)) &
                         kHighBits);
}

// Value of the first `count` (1 to kWordBytes) digits of `word`, shown on
// "1234" in a 64-bit word:
// 1. Subtracting '0' from every byte leaves the digits' values; shifting
//    left by 8 * (kWordBytes - count) bits drops the bytes behind the digits
//    and puts zeros in front, as leading zero digits: 0 0 0 0 1 2 3 4.
// 2. Neighbouring lanes of `width` bytes, each the value of its digits,
//    merge into one of twice the width, for width 1, 2 and 4 in turn: times
//    1 + 10^width * 2^(8 * width), every lane gains 10^width times the lane
//    before it, the earlier digits, and no sum reaches 10^(2 * width), so
//    none carries. Shifting right by a lane moves each pair's sum into its
//    low half, and the mask clears the high half: 0 0 12 34, then 0 1234.
inline std::uint32_t DigitsValue(Word word, std::size_t count) {
  word = (word - 0x30 * kOnes) << (8 * (kWordBytes - count));
  for (std::size_t width = 1; width < kWordBytes; width *= 2) {
    const std::size_t bits = 8 * width;
    const Word low_halves = ~Word{0} / ((Word{1} << bits) + 1);
    word = ((word * (1 + (kPowersOfTen[width] << bits))) >> bits) & low_halves;
  }
  return static_cast<std::uint32_t>(word);
}

// The end of the field at `at`: its first `kDelimiter`, or the text's end.
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

// A word of digits is converted at once; a longer number goes on digit by
// digit, which costs less than another word for the few digits left.
// Unsigned arithmetic wraps around modulo 2^32 without undefined behaviour;
// the conversion back to signed keeps the two's-complement bits.
const char* ParseNumber(const char* at, std::int32_t* value) {
  const bool negative = *at == '-';
  if (*at == '-' || *at == '+') ++at;
  const Word word = LoadWord(at);
  const std::size_t count = LeadingDigits(word);
  std::uint32_t number = 0;
  if (count > 0) {
    number = DigitsValue(word, count);
    at += count;
  }
  if (count == kWordBytes) {
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

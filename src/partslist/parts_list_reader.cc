// Tokenizer and validator of the parts list.
#include "partslist/parts_list_reader.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <limits>
#include <new>

namespace {

constexpr std::string_view kInputKey = "Input";
constexpr std::string_view kOutputKey = "Output";
constexpr std::string_view kOptionsKey = "Options";

// Entries read before the size of the whole table is estimated.
constexpr std::size_t kSampleEntries = 4096;

// What a byte means to the tokenizer.
constexpr unsigned char kSpace = 1;  // Separates tokens.
constexpr unsigned char kZero = 2;   // Ends a token's text.
constexpr unsigned char kComma = 4;  // Separates the fields of an entry.

// Space, tab, line feed, vertical tab, form feed and carriage return separate
// tokens; a carriage return is white space, so CR LF and LF read alike.
constexpr std::array<unsigned char, 256> kByteClass = [] {
  std::array<unsigned char, 256> classes{};
  for (const char c : {' ', '\t', '\n', '\v', '\f', '\r'}) {
    classes[static_cast<unsigned char>(c)] = kSpace;
  }
  classes[0] = kZero;
  classes[static_cast<unsigned char>(',')] = kComma;
  return classes;
}();

inline bool Is(char c, unsigned char classes) {
  return (kByteClass[static_cast<unsigned char>(c)] & classes) != 0;
}

// The scans below look at eight bytes of text at once, the first byte in the
// lowest bits of a word.
static_assert(std::endian::native == std::endian::little,
              "word-at-a-time scans expect little-endian byte order");

inline std::uint64_t LoadWord(const char* at) {
  std::uint64_t word;
  std::memcpy(&word, at, sizeof word);
  return word;
}

// Returns the first byte from `at` on that is of one of `classes`, looking at
// eight bytes at a time: a word without a byte below ',' (the largest byte
// of any class) is skipped whole. The buffer's line feeds end every search.
const char* FindByte(const char* at, unsigned char classes) {
  constexpr std::uint64_t kOnes = 0x0101010101010101u;
  constexpr std::uint64_t kHighBits = 0x8080808080808080u;
  constexpr std::uint64_t kLimit = ',' + 1;
  for (;;) {
    const std::uint64_t word = LoadWord(at);
    // High bit set in bytes below kLimit: exact up to the first of them,
    // and every candidate is checked against the table anyway.
    const std::uint64_t candidates =
        (word - kOnes * kLimit) & ~word & kHighBits;
    if (candidates == 0) {
      at += sizeof word;
      continue;
    }
    at += std::countr_zero(candidates) / 8;
    if (Is(*at, classes)) return at;
    ++at;
  }
}

// Moves past white space, reading on as needed. Returns false when no token
// is left.
bool SkipSpace(TextInput* input) {
  for (;;) {
    const char* const buffer = input->buffer.get();
    std::size_t at = input->begin;
    while (at < input->end && Is(buffer[at], kSpace)) ++at;
    input->begin = at;
    if (at < input->end) return true;
    if (!FillTextInput(input)) return false;
  }
}

// Reads on until the token at `begin`, of which `scanned` bytes are known
// not to be white space, stands whole in the buffer. Returns its length.
// No byte is scanned twice, so a token of any size is read in linear time.
std::size_t CompleteToken(TextInput* input, std::size_t scanned) {
  for (;;) {
    const char* const start = input->buffer.get() + input->begin;
    const char* at = start + scanned;
    at = FindByte(at, kSpace);
    scanned = static_cast<std::size_t>(at - start);
    if (input->begin + scanned < input->end || !FillTextInput(input)) {
      return scanned;
    }
  }
}

// Finds the next token and sets `token` to its text, which ends at the first
// zero byte inside it. The view stays valid until the input is read again.
// Returns false when no token is left.
bool NextToken(TextInput* input, std::string_view* token) {
  if (!SkipSpace(input)) return false;
  const std::size_t length = CompleteToken(input, 0);
  const char* const text = input->buffer.get() + input->begin;
  input->begin += length;
  const void* zero = std::memchr(text, '\0', length);
  *token = std::string_view(
      text, zero == nullptr ? length
                            : static_cast<std::size_t>(
                                  static_cast<const char*>(zero) - text));
  return true;
}

// Splits the next field off `rest` the way a delimiter tokenizer does: a run
// of delimiters is one separator and leading ones are skipped, so there are
// no empty fields. Returns false when no field is left.
bool NextField(std::string_view* rest, char delimiter,
               std::string_view* field) {
  std::size_t start = 0;
  while (start < rest->size() && (*rest)[start] == delimiter) ++start;
  if (start == rest->size()) return false;
  std::size_t stop = rest->find(delimiter, start);
  if (stop == std::string_view::npos) stop = rest->size();
  *field = rest->substr(start, stop - start);
  rest->remove_prefix(stop);
  return true;
}

// Number of leading decimal digits in `word` (0 to 8). A byte is no digit
// if it is 0x3A or more (adding 0x46 sets its high bit), below 0x30
// (subtracting 0x30 borrows) or has its high bit set. Carries and borrows
// run only towards later bytes, so the first non-digit is found exactly.
inline int LeadingDigits(std::uint64_t word) {
  const std::uint64_t no_digit =
      ((word + 0x4646464646464646u) | (word - 0x3030303030303030u) | word) &
      0x8080808080808080u;
  return no_digit == 0 ? 8 : std::countr_zero(no_digit) / 8;
}

// Value of the first `count` (1 to 8) digits of `word`: the digits are moved
// to the top with zeros below them as leading digits, then combined pairwise
// in three multiplications.
inline std::uint32_t DigitsValue(std::uint64_t word, int count) {
  word = (word - 0x3030303030303030u) << (8 * (8 - count));
  word = word * 10 + (word >> 8);
  word = ((word & 0x000000FF000000FFu) * (100 + (1000000ull << 32)) +
          ((word >> 16) & 0x000000FF000000FFu) * (1 + (10000ull << 32))) >>
         32;
  return static_cast<std::uint32_t>(word);
}

// Converts the number at `at` (see ParseWrapped32) and returns where its
// digits end. Up to eight digits are converted at once, which the buffer's
// padding allows anywhere in the text; longer numbers go on digit by digit.
// Unsigned arithmetic wraps around modulo 2^32 without undefined behaviour;
// the conversion back to signed keeps the two's-complement bits.
inline const char* ParseNumber(const char* at, std::int32_t* value) {
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

// Moves `*at` past the rest of its field and the run of commas behind it,
// to the start of the next field. Returns false if the token's text ends
// first.
inline bool SkipToNextField(const char** at) {
  const char* next = FindByte(*at, kSpace | kZero | kComma);
  while (*next == ',') ++next;
  *at = next;
  return !Is(*next, kSpace | kZero);
}

// Parses the entry token at `at`, which must be followed by white space, in
// one pass: fields split at runs of commas, field 1 the part number, field 4
// the order key. Returns where the token ends.
const char* ParseEntry(const char* at, std::int32_t* part_number,
                       std::int32_t* order_key) {
  *part_number = 0;
  *order_key = 0;
  while (*at == ',') ++at;
  if (!Is(*at, kSpace | kZero)) {
    at = ParseNumber(at, part_number);
    // Fields 2 and 3 carry nothing used, but must exist for field 4 to count.
    if (SkipToNextField(&at) && SkipToNextField(&at) && SkipToNextField(&at)) {
      at = ParseNumber(at, order_key);
    }
  }
  // Past a zero byte the token's text has ended: skip what is left of it.
  return FindByte(at, kSpace);
}

// Appends the entries read to `entries` until it holds `limit` of them.
// Returns true if the input ended first.
bool ReadEntries(TextInput* input, std::size_t limit, EntryTable* entries) {
  std::int32_t part_number = 0;
  std::int32_t order_key = 0;
  while (entries->size() < limit) {
    if (!ReadEntryToken(input, &part_number, &order_key)) return true;
    // A token with no number in it gives (0, 0); it names no part.
    if (part_number != 0 || order_key != 0) {
      entries->push_back({part_number, order_key});
    }
  }
  return false;
}

// Reserves room for the rest of a list of `size_hint` bytes in one step,
// estimated from the bytes the entries so far took since `start`. Growing the
// table step by step would copy it each time and touch twice the memory. A
// wrong estimate costs nothing but speed: the table still grows as needed, and
// a reservation that does not fit is simply not made.
void ReserveForRest(const TextInput& input, std::uint64_t size_hint,
                    std::uint64_t start, EntryTable* entries) {
  const std::uint64_t position = TextPosition(input);
  if (size_hint <= position || position <= start) return;
  // In floating point, which no size can overflow; it is an estimate.
  const double rest = static_cast<double>(size_hint - position);
  const double estimate = rest * static_cast<double>(entries->size()) /
                          static_cast<double>(position - start);
  // 1/16 more covers the spread; an entry takes two bytes at the least.
  const double most = std::min(estimate * 17 / 16, rest / 2);
  if (!(most < static_cast<double>(entries->max_size() - entries->size()))) {
    return;
  }
  try {
    entries->reserve(entries->size() + static_cast<std::size_t>(most));
  } catch (const std::bad_alloc&) {
    // Too much for this machine at once; the table grows as it goes.
  }
}

}  // namespace

std::int32_t ParseWrapped32(std::string_view text) {
  // The copy ends in zero bytes, which stop the digits like any non-digit,
  // and leave room for reading eight bytes at once.
  std::string terminated(text);
  terminated.append(kTextPadding, '\0');
  std::int32_t value = 0;
  ParseNumber(terminated.c_str(), &value);
  return value;
}

bool ReadKeyValueToken(TextInput* input, std::string* key, std::string* value) {
  std::string_view rest;
  if (!NextToken(input, &rest)) return false;
  std::string_view key_text;
  std::string_view value_text;
  if (NextField(&rest, ':', &key_text)) NextField(&rest, ':', &value_text);
  key->assign(key_text);
  value->assign(value_text);
  return true;
}

bool ReadEntryToken(TextInput* input, std::int32_t* part_number,
                    std::int32_t* order_key) {
  if (!SkipSpace(input)) return false;
  const char* const start = input->buffer.get() + input->begin;
  std::size_t length = static_cast<std::size_t>(
      ParseEntry(start, part_number, order_key) - start);
  if (input->begin + length == input->end && !input->at_end) {
    // The token may go on past the bytes read so far: read it whole, then
    // parse it again.
    length = CompleteToken(input, length);
    ParseEntry(input->buffer.get() + input->begin, part_number, order_key);
  }
  input->begin += length;
  return true;
}

bool ReadPartsList(TextInput* input, std::uint64_t size_hint,
                   std::string* output_name, EntryTable* entries) {
  std::string key;
  std::string value;
  if (!ReadKeyValueToken(input, &key, &value) || key != kInputKey) {
    return false;
  }
  if (!ReadKeyValueToken(input, &key, output_name) || key != kOutputKey ||
      output_name->empty()) {
    return false;
  }
  if (!ReadKeyValueToken(input, &key, &value) || key != kOptionsKey) {
    return false;
  }
  const std::uint64_t start = TextPosition(*input);
  if (!ReadEntries(input, kSampleEntries, entries)) {
    ReserveForRest(*input, size_hint, start, entries);
    ReadEntries(input, std::numeric_limits<std::size_t>::max(), entries);
  }
  return !input->failed;
}

// Reader and validator of the parts list: finds its tokens in the text input
// and reads them whole; the scans inside a token are in token_scan.
#include "partslist/parts_list_reader.h"

#include <algorithm>
#include <limits>
#include <new>

#include "common/large_memory.h"
#include "partslist/token_scan.h"

namespace {

constexpr std::string_view kInputKey = "Input";
constexpr std::string_view kOutputKey = "Output";
constexpr std::string_view kOptionsKey = "Options";

// Entries read before the size of the whole table is estimated.
constexpr std::size_t kSampleEntries = 4096;

// The token scans read up to kScanReadAhead - 1 bytes past the white space
// behind a token. Every token in the input's buffer has such white space at
// `end` at the latest, the first of the line feeds kept behind the unread
// bytes, and the rest of them may be read.
static_assert(kTextPadding >= kScanReadAhead,
              "the text input's padding must cover the token scans");

// Moves past white space, reading on as needed. Returns false when no token
// is left.
bool SkipSpace(TextInput* input) {
  for (;;) {
    const char* const buffer = input->buffer.get();
    std::size_t at = input->begin;
    while (at < input->end && IsTokenSpace(buffer[at])) ++at;
    input->begin = at;
    if (at < input->end) return true;
    if (!FillTextInput(input)) return false;
  }
}

// Reads on until the token at `begin` stands whole in the buffer, scanning
// each byte once, so a token of any size is read in linear time. Returns
// its length.
std::size_t CompleteToken(TextInput* input) {
  std::size_t scanned = 0;
  for (;;) {
    const char* const start = input->buffer.get() + input->begin;
    scanned = static_cast<std::size_t>(FindTokenEnd(start + scanned) - start);
    if (input->begin + scanned < input->end || !FillTextInput(input)) {
      return scanned;
    }
  }
}

// Moves to the next token, reads it whole and sets `length` to its length.
// Returns false when no token is left.
bool NextWholeToken(TextInput* input, std::size_t* length) {
  if (!SkipSpace(input)) return false;
  *length = CompleteToken(input);
  return true;
}

// Reads the next token and splits it at ':' into `key` and `value` (each may
// come out empty): the stage that reads the header. Returns false, changing
// neither, when no token is left.
bool ReadKeyValueToken(TextInput* input, std::string* key, std::string* value) {
  std::size_t length = 0;
  if (!NextWholeToken(input, &length)) return false;
  const char* const token = input->buffer.get() + input->begin;
  input->begin += length;
  std::string_view key_text;
  std::string_view value_text;
  SplitKeyValue(token, &key_text, &value_text);
  key->assign(key_text);
  value->assign(value_text);
  return true;
}

// Reads the next token as a comma-separated entry: field 1 is the part number,
// field 4 the order key (0 while fields 2 to 4 are not all present). Returns
// false when no token is left. The stage for an entry that may go on past the
// bytes read so far; ParseBufferedEntries parses the others in place.
bool ReadEntryToken(TextInput* input, std::int32_t* part_number,
                    std::int32_t* order_key) {
  std::size_t length = 0;
  if (!NextWholeToken(input, &length)) return false;
  ParseEntry(input->buffer.get() + input->begin, part_number, order_key);
  input->begin += length;
  return true;
}

// Returns where the unread bytes' last token starts, the only one that may
// go on past them; the tokens before it stand whole in the buffer.
const char* LastTokenStart(const TextInput& input) {
  const char* const begin = input.buffer.get() + input.begin;
  const char* at = input.buffer.get() + input.end;
  if (input.at_end) return at;
  while (at > begin && !IsTokenSpace(at[-1])) --at;
  return at;
}

// Appends an entry unless it is (0, 0): a token with no number in it gives
// that pair, and it names no part. Returns true if it appended one.
inline bool AddEntry(std::int32_t part_number, std::int32_t order_key,
                     EntryTable* entries) {
  if (part_number == 0 && order_key == 0) return false;
  entries->push_back({part_number, order_key});
  return true;
}

// Parses the tokens that stand whole in the buffer in place, until `entries`
// holds `limit` of them.
void ParseBufferedEntries(TextInput* input, std::size_t limit,
                          EntryTable* entries) {
  const char* const buffer = input->buffer.get();
  const char* const last = LastTokenStart(*input);
  const char* at = buffer + input->begin;
  // Counted down here rather than compared with the table's size per entry.
  std::size_t wanted = limit - std::min(limit, entries->size());
  std::int32_t part_number = 0;
  std::int32_t order_key = 0;
  for (;;) {
    while (at < last && IsTokenSpace(*at)) ++at;
    // At `last` or behind it: no token is read twice, whatever `last` says.
    if (at >= last || wanted == 0) break;
    // Past the white-space byte that ends the token.
    at = ParseEntry(at, &part_number, &order_key) + 1;
    wanted -= AddEntry(part_number, order_key, entries);
  }
  input->begin = static_cast<std::size_t>(std::min(at, last) - buffer);
}

// Appends the entries read to `entries` until it holds `limit` of them.
// Returns true if the input ended first.
bool ReadEntries(TextInput* input, std::size_t limit, EntryTable* entries) {
  std::int32_t part_number = 0;
  std::int32_t order_key = 0;
  for (;;) {
    ParseBufferedEntries(input, limit, entries);
    if (entries->size() >= limit) return false;
    // The last token may go on past the bytes read: this reads on.
    if (!ReadEntryToken(input, &part_number, &order_key)) return true;
    AddEntry(part_number, order_key, entries);
  }
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
    PreferLargePages(
        entries->data() + entries->size(),
        (entries->capacity() - entries->size()) * sizeof(PartEntry));
  } catch (const std::bad_alloc&) {
    // Too much for this machine at once; the table grows as it goes.
  }
}

}  // namespace

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

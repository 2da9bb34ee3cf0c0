// Tokenizer and validator of the parts list.
#include "partslist/parts_list_reader.h"

#include <cstring>

namespace {

constexpr std::string_view kInputKey = "Input";
constexpr std::string_view kOutputKey = "Output";
constexpr std::string_view kOptionsKey = "Options";

// Space, tab, line feed, vertical tab, form feed and carriage return separate
// tokens. A carriage return is white space, so CR LF and LF read alike.
inline bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

inline bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Finds the next whitespace-delimited token and sets `token` to its text,
// which ends at the first zero byte inside it. The view stays valid until the
// input is read again. Returns false when no token is left.
bool NextToken(TextInput* input, std::string_view* token) {
  for (;;) {
    const char* const buffer = input->buffer.get();
    std::size_t at = input->begin;
    while (at < input->end && IsSpace(buffer[at])) ++at;
    input->begin = at;
    if (at < input->end) break;
    if (!FillTextInput(input)) return false;
  }
  // The token may run past the bytes read so far: read on until white space
  // or the end, never scanning a byte twice.
  std::size_t length = 0;
  for (;;) {
    const char* const start = input->buffer.get() + input->begin;
    const char* const stop = input->buffer.get() + input->end;
    const char* at = start + length;
    while (at < stop && !IsSpace(*at)) ++at;
    length = static_cast<std::size_t>(at - start);
    if (at < stop || !FillTextInput(input)) break;
  }
  const char* const text = input->buffer.get() + input->begin;
  input->begin += length;
  const void* zero = std::memchr(text, '\0', length);
  if (zero != nullptr) {
    length = static_cast<std::size_t>(static_cast<const char*>(zero) - text);
  }
  *token = std::string_view(text, length);
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

}  // namespace

std::int32_t ParseWrapped32(std::string_view text) {
  std::size_t at = 0;
  const bool negative = !text.empty() && text[0] == '-';
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) at = 1;
  // Unsigned arithmetic wraps around modulo 2^32 without undefined behaviour;
  // the conversion back to signed keeps the two's-complement bits.
  std::uint32_t value = 0;
  for (; at < text.size() && IsDigit(text[at]); ++at) {
    value = value * 10u + static_cast<std::uint32_t>(text[at] - '0');
  }
  if (negative) value = 0u - value;
  return static_cast<std::int32_t>(value);
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
  std::string_view rest;
  if (!NextToken(input, &rest)) return false;
  *part_number = 0;
  *order_key = 0;
  std::string_view field;
  if (!NextField(&rest, ',', &field)) return true;
  *part_number = ParseWrapped32(field);
  // Fields 2 and 3 carry nothing used, but must exist for field 4 to count.
  if (NextField(&rest, ',', &field) && NextField(&rest, ',', &field) &&
      NextField(&rest, ',', &field)) {
    *order_key = ParseWrapped32(field);
  }
  return true;
}

bool ReadPartsList(TextInput* input, std::string* output_name,
                   EntryTable* entries) {
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
  std::int32_t part_number = 0;
  std::int32_t order_key = 0;
  while (ReadEntryToken(input, &part_number, &order_key)) {
    // A token with no number in it gives (0, 0); it names no part.
    if (part_number != 0 || order_key != 0) {
      entries->push_back({part_number, order_key});
    }
  }
  return !input->failed;
}

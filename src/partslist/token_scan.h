// In-place scans of one token of the parts list: where it ends, how it
// splits into fields and what its numbers are. They read a machine word at a
// time, which is why they state what must stand behind a token.
#ifndef PARTSLIST_TOKEN_SCAN_H_
#define PARTSLIST_TOKEN_SCAN_H_

#include <cstddef>
#include <cstdint>
#include <string_view>

// White space separates tokens: space, tab, line feed, vertical tab, form
// feed and carriage return, so CR LF reads like LF.
constexpr bool IsTokenSpace(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

// What every scan below needs of the bytes: the token it starts in is
// followed by a white-space byte, and the kScanReadAhead - 1 bytes behind
// that byte may be read too, whatever they hold. A scan loads whole words of
// up to that many bytes and never reads further; it writes nothing.
constexpr std::size_t kScanReadAhead = 8;

// Returns the first white-space byte at or after `at`: the end of the token
// that `at` points into.
const char* FindTokenEnd(const char* at);

// Splits the key/value token at `token` at ':' and sets `key` and `value` to
// its first two fields, each empty if the token has no such field. A field
// rule shared with the entries applies: a run of delimiters is one
// separator, leading ones are skipped, and a zero byte ends the token's text.
void SplitKeyValue(const char* token, std::string_view* key,
                   std::string_view* value);

// Parses the entry token at `token`, split at ',' by the same field rule:
// field 1 is the part number, field 4 the order key (0 unless fields 2 to 4
// all exist), both converted by ParseNumber. Returns where the token ends.
const char* ParseEntry(const char* token, std::int32_t* part_number,
                       std::int32_t* order_key);

// The number rule of the parts list: converts an optional sign and the
// decimal digits that follow it into a signed 32-bit integer, wrapping around
// on overflow, and returns where the digits end; no digit gives 0. Needs less
// than the scans above: it reads at most kScanReadAhead - 1 bytes past the
// first byte after the sign that is no digit.
const char* ParseNumber(const char* at, std::int32_t* value);

#endif  // PARTSLIST_TOKEN_SCAN_H_

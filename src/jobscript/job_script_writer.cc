// Composition and writing of the job-script lines.
#include "jobscript/job_script_writer.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cassert>
#include <cstdint>
#include <cstring>

#include "common/machine_word.h"

namespace {

constexpr std::string_view kOpenLineStart = "Framequill.Open(\"";
constexpr std::string_view kOpenLineEnd = "\",0,0);\n";
constexpr std::string_view kAppendLineStart = "Framequill.Append(\"";
constexpr std::string_view kAppendLineEnd = "\");\n";

// Appends `text` to `to`, putting a '\' before every '\' and '"' so that the
// text stays inside one string literal of the job script.
void AppendEscaped(std::string* to, std::string_view text) {
  for (const char c : text) {
    if (c == '\\' || c == '"') to->push_back('\\');
    to->push_back(c);
  }
}

// Part numbers are written a native word of digits at a time.
using machine_word::kOnes;
using machine_word::kPowersOfTen;
using machine_word::kWordBytes;
using machine_word::Word;
constexpr std::uint32_t kWordDigitsLimit = kWordBytes == 8 ? 100000000 : 10000;
// Bytes that WriteNumber may store: a sign, a word for the first digits and
// one for every further kWordBytes of them.
constexpr std::size_t kNumberStore = 1 + 3 * kWordBytes;

// x / 10^width, for x below 10^(2 * width), is (x * multiplier) >> shift.
struct Divider {
  Word multiplier;
  std::size_t shift;
};
constexpr std::array<Divider, 5> kDividers = {
    {{0, 0}, {103, 10}, {5243, 19}, {0, 0}, {109951163, 40}}};

// The kWordBytes decimal digits of `value` (below kWordDigitsLimit) as
// bytes 0 to 9, the first digit in the lowest byte, leading zeros included.
// Lanes of 2 * width bytes, each holding a value x below 10^(2 * width),
// split into x / 10^width in the lane's low half, the earlier digits, and
// the rest in its high half, for width kWordBytes / 2 down to 1: 1234 gives
// 12 34, then 1 2 3 4. The divider's multiplier is 2^shift / 10^width
// rounded up, exact for these x, and its product stays inside the lane; the
// mask keeps the quotient's bits and drops those that the shift brings down
// from the next lane.
inline Word DigitBytes(std::uint32_t value) {
  Word word = value;
  for (std::size_t width = kWordBytes / 2; width >= 1; width /= 2) {
    const std::size_t bits = 8 * width;
    const Divider divider = kDividers[width];
    const Word lane_ones = ~Word{0} / (~Word{0} >> (8 * kWordBytes - 2 * bits));
    const Word quotients =
        ((word * divider.multiplier) >> divider.shift) &
        (lane_ones * ((Word{1} << (2 * bits - divider.shift)) - 1));
    word = quotients | ((word - quotients * kPowersOfTen[width]) << bits);
  }
  return word;
}

// Writes all kWordBytes digits of `value`, below kWordDigitsLimit, at `to`
// and returns their end.
inline char* WriteWordDigits(char* to, std::uint32_t value) {
  const Word digits = DigitBytes(value) + '0' * kOnes;
  std::memcpy(to, &digits, sizeof digits);
  return to + kWordBytes;
}

// Writes the digits of `value`, below kWordDigitsLimit, at `to` without
// leading zeros, storing kWordBytes bytes, and returns their end.
inline char* WriteFirstDigits(char* to, std::uint32_t value) {
  const Word word = DigitBytes(value);
  // Leading zeros are the lowest bytes that are 0; the highest bit set in
  // the search keeps one digit of a 0.
  const std::size_t zeros = static_cast<unsigned>(std::countr_zero(
                                word | (Word{1} << (8 * kWordBytes - 1)))) /
                            8;
  const Word digits = (word + '0' * kOnes) >> (8 * zeros);
  std::memcpy(to, &digits, sizeof digits);
  return to + (kWordBytes - zeros);
}

// Writes the digits of `value` at `to` without leading zeros, storing up to
// 3 * kWordBytes bytes, and returns their end: the first digits, then a
// whole word for every further kWordBytes of them, which a 32-bit value has
// two of at the most.
inline char* WriteDigits(char* to, std::uint32_t value) {
  if (value < kWordDigitsLimit) return WriteFirstDigits(to, value);
  const std::uint32_t high = value / kWordDigitsLimit;
  if (high < kWordDigitsLimit) {
    to = WriteFirstDigits(to, high);
  } else {
    to = WriteFirstDigits(to, high / kWordDigitsLimit);
    to = WriteWordDigits(to, high % kWordDigitsLimit);
  }
  return WriteWordDigits(to, value % kWordDigitsLimit);
}

// Writes `number` in signed decimal at `to`, storing up to kNumberStore
// bytes, and returns its end.
inline char* WriteNumber(char* to, std::int32_t number) {
  std::uint32_t magnitude = static_cast<std::uint32_t>(number);
  if (number < 0) {
    *to++ = '-';
    magnitude = 0u - magnitude;
  }
  return WriteDigits(to, magnitude);
}

// The fixed-size move of a short line text: room for the text between two
// numbers, the end of one append line and the start of the next, for output
// names of up to 23 characters.
constexpr std::size_t kLineCopySize = 48;

// A composed text around the part number as the lines are written from it:
// `size` bytes of text at `bytes`, followed by kLineCopySize zero bytes, so
// that a short text is copied in one fixed-size move.
struct LineText {
  const char* bytes;
  std::size_t size;
};

// Returns `text` with its line end as CR LF and kLineCopySize zero bytes
// behind it: one of the strings of LineTexts.
std::string ComposeLineText(std::string_view text) {
  std::string bytes = WithCrLf(text);
  bytes.append(kLineCopySize, '\0');
  return bytes;
}

// The text that ComposeLineText composed into `composed`.
LineText ComposedText(const std::string& composed) {
  assert(composed.size() >= kLineCopySize && "made by ComposeLines");
  return {composed.data(), composed.size() - kLineCopySize};
}

// Copies `text` to `to` and returns the end of the copy. A short text is
// copied with its padding in one fixed-size move, which the compiler turns
// into a few register moves instead of a call; the bytes past the text land
// in room that the next piece overwrites or that is never written out.
inline char* CopyLineText(char* to, LineText text) {
  if (text.size <= kLineCopySize) {
    std::memcpy(to, text.bytes, kLineCopySize);
  } else {
    std::memcpy(to, text.bytes, text.size);
  }
  return to + text.size;
}

// Writes a line longer than the output buffer, or to an output that failed,
// piece by piece.
void WriteLinePieces(TextOutput* output, LineText before, std::int32_t number) {
  char digits[kNumberStore];
  const char* const end = WriteNumber(digits, number);
  WriteBytes(output, before.bytes, before.size);
  WriteBytes(output, digits, static_cast<std::size_t>(end - digits));
}

// Writes `before` and the part number for each entry from `entry` to
// `stop`. They are composed in the output buffer's room and handed to the
// output only when the room runs short, which keeps the loop to the bytes.
void WriteLines(TextOutput* output, const PartEntry* entry,
                const PartEntry* stop, LineText before) {
  // At most what the fixed-size move and the longest number store.
  const std::size_t most = before.size + kLineCopySize + kNumberStore;
  char* at = ReserveOutputRoom(output, most);
  if (at == nullptr) {
    for (; entry != stop; ++entry) {
      WriteLinePieces(output, before, entry->part_number);
    }
    return;
  }
  for (;;) {
    // The lines that surely fit in the room, at least one, are written
    // without a check each.
    const std::size_t fit =
        static_cast<std::size_t>(OutputRoomEnd(output) - at) / most;
    const PartEntry* const fit_stop =
        entry + std::min(fit, static_cast<std::size_t>(stop - entry));
    for (; entry != fit_stop; ++entry) {
      at = WriteNumber(CopyLineText(at, before), entry->part_number);
    }
    if (entry == stop) break;
    CommitOutputRoom(output, at);
    at = ReserveOutputRoom(output, most);
    // The room was there before, so the output has failed: nothing more is
    // written.
    if (at == nullptr) return;
  }
  CommitOutputRoom(output, at);
}

}  // namespace

void SplitOutputName(std::string_view output_name, std::string* stem,
                     std::string* extension) {
  // Position 0 is never looked at: a name that starts with its only dot has
  // no extension. A dot before the last backslash belongs to a folder name.
  std::string_view name = output_name;
  std::string_view extension_text;
  const std::size_t at = name.find_last_of("\\.");
  if (at != std::string_view::npos && at > 0 && name[at] == '.') {
    extension_text = name.substr(at + 1);
    name = name.substr(0, at);
  }
  stem->clear();
  extension->clear();
  AppendEscaped(stem, name);
  AppendEscaped(extension, extension_text);
}

LineTexts ComposeLines(std::string_view output_name) {
  std::string stem;
  std::string extension;
  SplitOutputName(output_name, &stem, &extension);
  const std::string open_end = "." + extension + std::string(kOpenLineEnd);
  const std::string append_start = std::string(kAppendLineStart) + stem + ".";
  const std::string append_end = "." + extension + std::string(kAppendLineEnd);
  return {
      ComposeLineText(std::string(kOpenLineStart) + stem + "."),
      ComposeLineText(open_end),
      ComposeLineText(open_end + append_start),
      ComposeLineText(append_end + append_start),
      ComposeLineText(append_end),
  };
}

void WriteResultLines(TextOutput* output, const EntryTable& entries,
                      const LineTexts& texts) {
  if (entries.empty()) return;
  const PartEntry* const first = entries.data();
  WriteLines(output, first, first + 1, ComposedText(texts.open_start));
  LineText end = ComposedText(texts.open_end);
  if (entries.size() > 1) {
    WriteLines(output, first + 1, first + 2,
               ComposedText(texts.open_to_append));
    WriteLines(output, first + 2, first + entries.size(),
               ComposedText(texts.between_appends));
    end = ComposedText(texts.append_end);
  }
  WriteBytes(output, end.bytes, end.size);
}

// Ordering of the part entries and composition of the job-script lines.
#include "jobscript/job_script_writer.h"

#include <array>
#include <charconv>
#include <cstdint>
#include <memory>

namespace {

constexpr std::string_view kOpenLineStart = "Framequill.Open(\"";
constexpr std::string_view kOpenLineEnd = "\",0,0);\n";
constexpr std::string_view kAppendLineStart = "Framequill.Append(\"";
constexpr std::string_view kAppendLineEnd = "\");\n";

// Below this size an insertion sort beats the radix sort's fixed cost.
constexpr std::size_t kSmallTable = 64;

// The radix sort orders 32-bit keys by three digits of 11, 11 and 10 bits.
constexpr int kDigitBits = 11;
constexpr int kDigitCount = 3;
constexpr std::size_t kBuckets = std::size_t{1} << kDigitBits;

// Maps a signed key to an unsigned one of the same order.
inline std::uint32_t SortableKey(std::int32_t key) {
  return static_cast<std::uint32_t>(key) ^ 0x80000000u;
}

inline std::size_t Digit(std::uint32_t key, int digit) {
  return (key >> (digit * kDigitBits)) & (kBuckets - 1);
}

void InsertionSort(PartEntry* entries, std::size_t count) {
  for (std::size_t i = 1; i < count; ++i) {
    const PartEntry entry = entries[i];
    std::size_t j = i;
    // Strictly greater: an equal key stays behind the one read before it.
    for (; j > 0 && entries[j - 1].order_key > entry.order_key; --j) {
      entries[j] = entries[j - 1];
    }
    entries[j] = entry;
  }
}

// Least-significant-digit radix sort: each pass is a stable counting sort on
// one digit, so the whole sort is stable. A pass whose digit is the same for
// every key would not move anything and is skipped.
void RadixSort(PartEntry* entries, std::size_t count) {
  // Each pass looks at the first entry; an empty table has none.
  if (count == 0) return;
  std::array<std::array<std::size_t, kBuckets>, kDigitCount> counts{};
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint32_t key = SortableKey(entries[i].order_key);
    for (int digit = 0; digit < kDigitCount; ++digit) {
      ++counts[digit][Digit(key, digit)];
    }
  }
  auto scratch = std::make_unique_for_overwrite<PartEntry[]>(count);
  PartEntry* from = entries;
  PartEntry* to = scratch.get();
  for (int digit = 0; digit < kDigitCount; ++digit) {
    auto& offsets = counts[digit];
    const std::uint32_t first = SortableKey(from[0].order_key);
    if (offsets[Digit(first, digit)] == count) continue;
    std::size_t sum = 0;
    for (std::size_t& offset : offsets) {
      const std::size_t bucket = offset;
      offset = sum;
      sum += bucket;
    }
    for (std::size_t i = 0; i < count; ++i) {
      to[offsets[Digit(SortableKey(from[i].order_key), digit)]++] = from[i];
    }
    std::swap(from, to);
  }
  if (from != entries) std::copy(from, from + count, entries);
}

// Appends `text` to `to`, putting a '\' before every '\' and '"' so that the
// text stays inside one string literal of the job script.
void AppendEscaped(std::string* to, std::string_view text) {
  for (const char c : text) {
    if (c == '\\' || c == '"') to->push_back('\\');
    to->push_back(c);
  }
}

// Writes one line: `start`, the part number in signed decimal, `end`.
void WriteLine(TextOutput* output, std::string* line, std::string_view start,
               std::int32_t part_number, std::string_view end) {
  std::array<char, 16> digits;
  const auto [stop, error] =
      std::to_chars(digits.data(), digits.data() + digits.size(), part_number);
  line->assign(start);
  line->append(digits.data(), stop);
  line->append(end);
  WriteText(output, *line);
}

}  // namespace

void SortEntries(EntryTable* entries) {
  if (entries->size() <= kSmallTable) {
    InsertionSort(entries->data(), entries->size());
  } else {
    RadixSort(entries->data(), entries->size());
  }
}

void SplitOutputName(std::string_view output_name, std::string* stem,
                     std::string* extension) {
  // Position 0 is never looked at: a name that starts with its only dot has
  // no extension. A dot before the last backslash belongs to a folder name.
  std::string_view name = output_name;
  std::string_view extension_text;
  for (std::size_t at = name.size(); at-- > 1;) {
    if (name[at] == '\\') break;
    if (name[at] == '.') {
      extension_text = name.substr(at + 1);
      name = name.substr(0, at);
      break;
    }
  }
  stem->clear();
  extension->clear();
  AppendEscaped(stem, name);
  AppendEscaped(extension, extension_text);
}

void WriteResultLines(TextOutput* output, EntryTable* entries,
                      std::string_view output_name) {
  if (entries->empty()) return;
  SortEntries(entries);
  std::string stem;
  std::string extension;
  SplitOutputName(output_name, &stem, &extension);

  // The fixed text around each part number, composed once.
  const std::string open_start = std::string(kOpenLineStart) + stem + ".";
  const std::string open_end = "." + extension + std::string(kOpenLineEnd);
  const std::string append_start = std::string(kAppendLineStart) + stem + ".";
  const std::string append_end = "." + extension + std::string(kAppendLineEnd);

  std::string line;
  const PartEntry* entry = entries->data();
  const PartEntry* const stop = entry + entries->size();
  WriteLine(output, &line, open_start, entry->part_number, open_end);
  for (++entry; entry != stop; ++entry) {
    WriteLine(output, &line, append_start, entry->part_number, append_end);
  }
}

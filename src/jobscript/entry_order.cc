// Ordering of the part entries: insertion sort for small tables, radix sort
// for the others, both stable.
#include "jobscript/entry_order.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>

#include "common/large_memory.h"

namespace {

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

// The bucket of `key` in the pass on digit `digit`: that digit's value.
inline std::size_t BucketOf(std::uint32_t key, int digit) {
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

// One pass of the radix sort: a stable counting sort of `count` entries from
// `from` to `to` on digit kDigit, whose bucket sizes are `offsets`. Returns
// false, moving nothing, if the digit is the same for every key. The digit
// is a template argument, so that its shift is a constant.
template <int kDigit>
bool RadixPass(const PartEntry* from, PartEntry* to, std::size_t count,
               std::array<std::size_t, kBuckets>* offsets) {
  if ((*offsets)[BucketOf(SortableKey(from[0].order_key), kDigit)] == count) {
    return false;
  }
  std::size_t sum = 0;
  for (std::size_t& offset : *offsets) {
    const std::size_t bucket = offset;
    offset = sum;
    sum += bucket;
  }
  for (std::size_t i = 0; i < count; ++i) {
    to[(*offsets)[BucketOf(SortableKey(from[i].order_key), kDigit)]++] =
        from[i];
  }
  return true;
}

// Least-significant-digit radix sort: each pass is a stable counting sort on
// one digit, so the whole sort is stable.
void RadixSort(PartEntry* entries, std::size_t count) {
  // Each pass looks at the first entry; an empty table has none.
  if (count == 0) return;
  std::array<std::array<std::size_t, kBuckets>, kDigitCount> counts{};
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint32_t key = SortableKey(entries[i].order_key);
    for (int digit = 0; digit < kDigitCount; ++digit) {
      ++counts[digit][BucketOf(key, digit)];
    }
  }
  auto scratch = std::make_unique_for_overwrite<PartEntry[]>(count);
  PreferLargePages(scratch.get(), count * sizeof(PartEntry));
  PartEntry* from = entries;
  PartEntry* to = scratch.get();
  static_assert(kDigitCount == 3, "one pass per digit");
  if (RadixPass<0>(from, to, count, &counts[0])) std::swap(from, to);
  if (RadixPass<1>(from, to, count, &counts[1])) std::swap(from, to);
  if (RadixPass<2>(from, to, count, &counts[2])) std::swap(from, to);
  if (from != entries) std::copy(from, from + count, entries);
}

}  // namespace

void SortEntries(EntryTable* entries) {
  // Lists often come in order already. Checking costs one pass at most and
  // usually stops at the first entries; an ordered table needs no sort and
  // no second buffer.
  const auto by_key = [](const PartEntry& a, const PartEntry& b) {
    return a.order_key < b.order_key;
  };
  if (std::is_sorted(entries->begin(), entries->end(), by_key)) return;
  if (entries->size() <= kSmallTable) {
    InsertionSort(entries->data(), entries->size());
  } else {
    RadixSort(entries->data(), entries->size());
  }
}

// Tests of the ordering of the part entries.
#include "jobscript/entry_order.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <random>

namespace {

constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();

// Orders a copy of `entries` with SortEntries and checks it against a
// library stable sort.
void ExpectStableOrder(const EntryTable& entries) {
  EntryTable sorted = entries;
  SortEntries(&sorted);
  EntryTable expected = entries;
  std::stable_sort(expected.begin(), expected.end(),
                   [](const PartEntry& a, const PartEntry& b) {
                     return a.order_key < b.order_key;
                   });
  ASSERT_EQ(sorted.size(), expected.size());
  for (std::size_t i = 0; i < sorted.size(); ++i) {
    ASSERT_EQ(sorted[i].part_number, expected[i].part_number)
        << "at " << i << " of " << entries.size();
    ASSERT_EQ(sorted[i].order_key, expected[i].order_key);
  }
}

TEST(SortEntriesTest, IsStableAtEverySize) {
  std::mt19937 random(7);
  // Sizes on both sides of the switch from insertion sort (up to 64 entries)
  // to radix sort (65 and more); key ranges from all-equal over few distinct
  // keys to the whole 32-bit range.
  for (const std::size_t size : {0, 1, 2, 20, 32, 33, 64, 65, 1000, 50000}) {
    for (const std::uint32_t range : {1u, 3u, 70000u, 0u}) {
      EntryTable entries(size);
      for (std::size_t i = 0; i < size; ++i) {
        const std::uint32_t bits = range == 0 ? random() : random() % range;
        entries[i] = {static_cast<std::int32_t>(i),
                      static_cast<std::int32_t>(bits) - 1};
      }
      ExpectStableOrder(entries);
    }
  }
  ExpectStableOrder({{1, kMax}, {2, kMin}, {3, 0}, {4, -1}, {5, kMin}});
  // All keys but the second share every digit: no radix pass may be skipped.
  EntryTable one_differs(65);
  for (std::int32_t i = 0; i < 65; ++i) one_differs[i] = {i, i == 1 ? -1 : 0};
  ExpectStableOrder(one_differs);
}

}  // namespace

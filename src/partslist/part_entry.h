// The part entries that the parts-list reader collects and the job-script
// writer orders.
#ifndef PARTSLIST_PART_ENTRY_H_
#define PARTSLIST_PART_ENTRY_H_

#include <cstdint>
#include <vector>

// One compressed part: its number in the output file's name and the key that
// orders it among the others.
struct PartEntry {
  std::int32_t part_number;
  std::int32_t order_key;
};

// The parts in the order they were read, until the writer reorders them.
using EntryTable = std::vector<PartEntry>;

#endif  // PARTSLIST_PART_ENTRY_H_

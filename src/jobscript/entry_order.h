// Ordering of the part entries by their order keys.
#ifndef JOBSCRIPT_ENTRY_ORDER_H_
#define JOBSCRIPT_ENTRY_ORDER_H_

#include "partslist/part_entry.h"

// Orders `entries` ascending by signed order key. Entries with equal keys keep
// their reading order at every size, so a result is always reproducible.
void SortEntries(EntryTable* entries);

#endif  // JOBSCRIPT_ENTRY_ORDER_H_

// Reader of the parts list a cluster leaves beside the video: a header naming
// input, output and options, then one entry token per compressed part.
#ifndef PARTSLIST_PARTS_LIST_READER_H_
#define PARTSLIST_PARTS_LIST_READER_H_

#include <cstdint>
#include <string>

#include "common/text_input.h"
#include "partslist/part_entry.h"

// Reads a whole parts list: checks the "Input", "Output" and "Options" header
// tokens, stores the output name and appends every entry whose part number or
// order key is not 0 to `entries`. `size_hint` is the list's size in bytes,
// or 0 if unknown: it only sizes the table, never limits what is read.
// Returns true if the list is valid; a read error makes it not valid, since
// the parts after it would be lost.
bool ReadPartsList(TextInput* input, std::uint64_t size_hint,
                   std::string* output_name, EntryTable* entries);

#endif  // PARTSLIST_PARTS_LIST_READER_H_

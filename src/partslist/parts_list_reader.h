// Reader of the parts list a cluster leaves beside the video: a header naming
// input, output and options, then one entry token per compressed part.
#ifndef PARTSLIST_PARTS_LIST_READER_H_
#define PARTSLIST_PARTS_LIST_READER_H_

#include <cstdint>
#include <string>

#include "common/text_input.h"
#include "partslist/part_entry.h"

// Reads the next token and splits it at ':' into `key` and `value` (each may
// come out empty). Returns false, changing nothing, when no token is left.
bool ReadKeyValueToken(TextInput* input, std::string* key, std::string* value);

// Reads the next token as a comma-separated entry: field 1 is the part number,
// field 4 the order key (0 while fields 2 to 4 are not all present). Returns
// false when no token is left.
bool ReadEntryToken(TextInput* input, std::int32_t* part_number,
                    std::int32_t* order_key);

// Reads a whole parts list: checks the "Input", "Output" and "Options" header
// tokens, stores the output name and appends every entry whose part number or
// order key is not 0 to `entries`. `size_hint` is the list's size in bytes,
// or 0 if unknown: it only sizes the table, never limits what is read.
// Returns true if the list is valid; a read error makes it not valid, since
// the parts after it would be lost.
bool ReadPartsList(TextInput* input, std::uint64_t size_hint,
                   std::string* output_name, EntryTable* entries);

#endif  // PARTSLIST_PARTS_LIST_READER_H_

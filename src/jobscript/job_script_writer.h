// Writer of the job-script lines that open and append the compressed parts
// in the host application's job script.
#ifndef JOBSCRIPT_JOB_SCRIPT_WRITER_H_
#define JOBSCRIPT_JOB_SCRIPT_WRITER_H_

#include <string>
#include <string_view>

#include "common/text_io.h"
#include "partslist/parts_list_reader.h"

// Orders `entries` ascending by signed order key. Entries with equal keys keep
// their reading order at every size, so a result is always reproducible.
void SortEntries(EntryTable* entries);

// Splits `output_name` at the last '.' after its last '\' (position 0 never
// counts) into the stem before the dot and the extension after it; with no
// such dot the stem is the whole name and the extension is empty. Both come
// out escaped for a string literal of the job script: every '\' and '"' is
// written with a '\' before it.
void SplitOutputName(std::string_view output_name, std::string* stem,
                     std::string* extension);

// Orders `entries` and writes one line per entry to `output`: an open line
// for the first, an append line for every further one. Write failures are
// recorded in `output`.
void WriteResultLines(TextOutput* output, EntryTable* entries,
                      std::string_view output_name);

#endif  // JOBSCRIPT_JOB_SCRIPT_WRITER_H_

// Writer of the job-script lines that open and append the compressed parts
// in the host application's job script.
#ifndef JOBSCRIPT_JOB_SCRIPT_WRITER_H_
#define JOBSCRIPT_JOB_SCRIPT_WRITER_H_

#include <cstddef>
#include <string>
#include <string_view>

#include "common/text_output.h"
#include "partslist/part_entry.h"

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

// Text around the part number in a line, composed once with its line end
// already CR LF. `bytes` holds the `size` bytes of the text followed by
// kLineCopySize zero bytes, so that a short text is copied in one
// fixed-size move.
struct LineText {
  std::string bytes;
  std::size_t size = 0;
};

// The fixed-size move of a short LineText.
constexpr std::size_t kLineCopySize = 32;

// The texts around the part number in each kind of line, composed once from
// the output name: all that is left to do per line is the number.
struct LineTexts {
  LineText open_start;
  LineText open_end;
  LineText append_start;
  LineText append_end;
};

// Orders `entries` and composes the line texts for `output_name`: all of the
// writing's work that needs memory, so that the run can do it before it
// creates or overwrites the result file.
LineTexts PrepareResultLines(EntryTable* entries, std::string_view output_name);

// Writes one line per entry of the ordered `entries` to `output`: an open line
// for the first, an append line for every further one. Allocates nothing;
// write failures are recorded in `output`.
void WriteResultLines(TextOutput* output, const EntryTable& entries,
                      const LineTexts& texts);

#endif  // JOBSCRIPT_JOB_SCRIPT_WRITER_H_

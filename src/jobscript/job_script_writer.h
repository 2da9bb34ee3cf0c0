// Writer of the job-script lines that open and append the compressed parts
// in the host application's job script.
#ifndef JOBSCRIPT_JOB_SCRIPT_WRITER_H_
#define JOBSCRIPT_JOB_SCRIPT_WRITER_H_

#include <string>
#include <string_view>

#include "common/text_output.h"
#include "partslist/part_entry.h"

// Splits `output_name` at the last '.' after its last '\' (position 0 never
// counts) into the stem before the dot and the extension after it; with no
// such dot the stem is the whole name and the extension is empty. Both come
// out escaped for a string literal of the job script: every '\' and '"' is
// written with a '\' before it.
void SplitOutputName(std::string_view output_name, std::string* stem,
                     std::string* extension);

// The texts around the part numbers, with CR LF line ends: composed once
// from the output name by ComposeLines, so that all that is left to do per
// line is the number. The text between two numbers holds the end of one line
// and the start of the next, so that a line takes one text and one number.
// Only ComposeLines makes them: each string also carries the zero bytes
// behind its text that WriteResultLines copies along with it.
struct LineTexts {
  // Before the first number, and behind it if it is the only one.
  std::string open_start;
  std::string open_end;
  // Between the first number and the second, and between further ones.
  std::string open_to_append;
  std::string between_appends;
  // Behind the last of several numbers.
  std::string append_end;
};

// Composes the line texts for `output_name`: with SortEntries, all of the
// writing's work that needs memory, so that the run can do it before it
// creates or replaces the result file.
LineTexts ComposeLines(std::string_view output_name);

// Writes one line per entry of `entries`, ordered by SortEntries, to
// `output` with the texts from ComposeLines: an open line for the first, an
// append line for every further one. Allocates nothing; write failures are
// recorded in `output`.
void WriteResultLines(TextOutput* output, const EntryTable& entries,
                      const LineTexts& texts);

#endif  // JOBSCRIPT_JOB_SCRIPT_WRITER_H_

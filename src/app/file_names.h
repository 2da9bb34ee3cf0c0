// Derivation of the parts-list name and the result-file name from the one
// command-line argument.
#ifndef APP_FILE_NAMES_H_
#define APP_FILE_NAMES_H_

#include <string>

// Lowers `text` in place. On Windows `text` is UTF-8 and is lowered as
// UTF-16 text by the system (every letter that the ANSI code page has is
// lowered as the code page lowers it), which keeps the number of UTF-16
// units but may change the number of bytes; elsewhere only 'A' to 'Z'
// change. Digits, '.', ':' and '\' never change.
void LowerText(std::string* text);

// Turns the lowered argument in `name` into the parts-list name and sets
// `result_name` to the result-file name: a numbered part "x.01.avi", a video
// "x.avi" or a list "x.parts" all give "x.parts" and "x.jobs.part"; any other
// name gets ".parts" appended and loses its last extension in the result
// name. On Windows the rules count and look at the UTF-8 name as the ANSI
// code page writes it, a letter that it lacks as one character.
void DeriveFileNames(std::string* name, std::string* result_name);

#endif  // APP_FILE_NAMES_H_

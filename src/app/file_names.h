// Derivation of the parts-list name and the result-file name from the one
// command-line argument.
#ifndef APP_FILE_NAMES_H_
#define APP_FILE_NAMES_H_

#include <string>

// Lowers `text` in place, keeping its length: by the active ANSI code page on
// Windows, 'A' to 'Z' only elsewhere. Digits, '.', ':' and '\' never change.
void LowerText(std::string* text);

// Turns the lowered argument in `name` into the parts-list name and sets
// `result_name` to the result-file name: a numbered part "x.01.avi", a video
// "x.avi" or a list "x.parts" all give "x.parts" and "x.jobs.part"; any other
// name gets ".parts" appended and loses its last extension in the result
// name.
void DeriveFileNames(std::string* name, std::string* result_name);

#endif  // APP_FILE_NAMES_H_

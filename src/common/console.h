// Standard output, where KOLVA prints its messages: set up for the program's
// own CR LF output, and written as each platform's console wants it.
#ifndef COMMON_CONSOLE_H_
#define COMMON_CONSOLE_H_

#include <cstddef>
#include <cstdio>

// Sets up standard output for the program's own CR LF output: binary mode
// where the platform has a text mode. On POSIX a closed standard output
// (SIGPIPE) and a file-size limit (SIGXFSZ) are ignored from here on, so
// they make a write fail, which the run reports, instead of ending the
// process before it could say so or clean up.
void SetUpProcessOutput();

// Standard output as KOLVA writes to it. On POSIX it gets the bytes as they
// are. On Windows, where names are UTF-8 inside, a console window gets the
// text through the console's own wide-character path, so that it shows every
// letter of a name, and a file or a pipe gets it in the ANSI code page, a
// letter that the code page lacks as '?'.
struct StandardOutput {
  std::FILE* stream = nullptr;
  // The console's handle (Windows) when standard output is one, else null.
  void* console = nullptr;
  // The first bytes of a UTF-8 letter whose last byte is yet to come: a
  // piece of text may end inside one (Windows).
  char held[3] = {};
  std::size_t held_size = 0;
};

// Returns standard output, once SetUpProcessOutput has set it up.
StandardOutput OpenStandardOutput();

// WriteBytesFn over the StandardOutput `output`: writes and flushes. Returns
// false if the stream or the console fails to take every byte.
bool WriteToStandardOutput(void* output, const char* data, std::size_t size);

#endif  // COMMON_CONSOLE_H_

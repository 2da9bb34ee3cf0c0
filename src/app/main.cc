// Program entry of KOLVA. On Windows the command line comes in UTF-16, as
// Windows holds it (wmain, linked with -municode), so that a name reaches
// KOLVA with every letter it has and never as a look-alike of the ANSI code
// page.
#include "app/run.h"

#ifdef _WIN32
// wchar_t is a UTF-16 unit on Windows.
static_assert(sizeof(wchar_t) == sizeof(char16_t));

int wmain(int argc, wchar_t** argv) {
  return RunProgram(argc, reinterpret_cast<const char16_t* const*>(argv));
}
#else
int main(int argc, char** argv) { return RunProgram(argc, argv); }
#endif

// Standard output on Windows: a console window gets wide characters, a file
// or a pipe the ANSI code page.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "common/console.h"
#include "common/wide_text.h"

namespace {

// Bytes of standard output converted at a time. No letter takes more UTF-16
// units than UTF-8 bytes, so the wide text fits in as many units.
constexpr std::size_t kOutputPiece = 1024;

// wchar_t is a UTF-16 unit on Windows.
static_assert(sizeof(wchar_t) == sizeof(char16_t));
const wchar_t* WideChars(const char16_t* text) {
  return reinterpret_cast<const wchar_t*>(text);
}

// Writes and flushes `size` bytes of `data` to `stream`. Returns false if it
// fails to take every byte.
bool WriteToStream(std::FILE* stream, const char* data, std::size_t size) {
  return std::fwrite(data, 1, size, stream) == size && std::fflush(stream) == 0;
}

// Writes `count` units of `text` to `console`. Returns false if a console
// write fails.
bool WriteConsoleText(HANDLE console, const char16_t* text, std::size_t count) {
  for (DWORD done = 0; done < static_cast<DWORD>(count);) {
    DWORD written = 0;
    if (!WriteConsoleW(console, WideChars(text) + done,
                       static_cast<DWORD>(count) - done, &written, nullptr) ||
        written == 0) {
      return false;
    }
    done += written;
  }
  return true;
}

// Writes `count` units of `text` to `stream` in the ANSI code page, a letter
// that it lacks as '?' and never as a look-alike. Returns false if the
// conversion or the write fails.
bool WriteAnsiText(std::FILE* stream, const char16_t* text, std::size_t count) {
  if (count == 0) return true;
  // An ANSI code page writes a unit with at most two bytes.
  char ansi[2 * kOutputPiece];
  const int size = WideCharToMultiByte(
      CP_ACP, WC_NO_BEST_FIT_CHARS, WideChars(text), static_cast<int>(count),
      ansi, static_cast<int>(sizeof ansi), "?", nullptr);
  return size > 0 &&
         WriteToStream(stream, ansi, static_cast<std::size_t>(size));
}

}  // namespace

void SetUpProcessOutput() { _setmode(_fileno(stdout), _O_BINARY); }

StandardOutput OpenStandardOutput() {
  StandardOutput output;
  output.stream = stdout;
  // A console answers GetConsoleMode; a file, a pipe or no handle at all
  // does not, and gets the bytes through the C stream.
  HANDLE handle = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  if (handle != INVALID_HANDLE_VALUE && handle != nullptr &&
      GetConsoleMode(handle, &mode)) {
    output.console = handle;
  }
  return output;
}

bool WriteToStandardOutput(void* output, const char* data, std::size_t size) {
  auto* const out = static_cast<StandardOutput*>(output);
  // The names are UTF-8, which a file or a pipe takes as it is where the
  // ANSI code page is UTF-8 too.
  if (out->console == nullptr && GetACP() == CP_UTF8) {
    return WriteToStream(out->stream, data, size);
  }
  while (size > 0) {
    // The bytes held back last time come first: they begin the letter that
    // these bytes end.
    char piece[kOutputPiece];
    std::size_t used = out->held_size;
    std::memcpy(piece, out->held, used);
    const std::size_t taken = std::min(size, kOutputPiece - used);
    std::memcpy(piece + used, data, taken);
    data += taken;
    size -= taken;
    used += taken;
    // A letter cut at the end of the piece is converted whole next time,
    // since half of one would show as a wrong letter.
    out->held_size = IncompleteUtf8Tail(std::string_view(piece, used));
    used -= out->held_size;
    std::memcpy(out->held, piece + used, out->held_size);
    char16_t wide[kOutputPiece];
    const std::size_t count = Utf8ToUtf16(std::string_view(piece, used), wide);
    const bool written = out->console != nullptr
                             ? WriteConsoleText(out->console, wide, count)
                             : WriteAnsiText(out->stream, wide, count);
    if (!written) return false;
  }
  return true;
}

// Names as Windows holds them: UTF-8 (which KOLVA keeps names in) to UTF-16
// and back, the long-path form of a full path, and the measures that the
// temporary name and the name rules take of a name. Plain code without
// system calls, so that it is the same and tested on every platform.
#ifndef COMMON_WIDE_TEXT_H_
#define COMMON_WIDE_TEXT_H_

#include <cstddef>
#include <string>
#include <string_view>

// Converts the UTF-8 `text` into `out`, which must have room for
// text.size() units: no letter takes more units than bytes. A surrogate
// written as a 3-byte sequence, as Utf16ToUtf8 writes one without its
// partner, gives that surrogate back; each byte that begins no letter gives
// U+FFFD. Returns the number of units written.
std::size_t Utf8ToUtf16(std::string_view text, char16_t* out);

// The same into a new string.
std::u16string Utf8ToUtf16(std::string_view text);

// Converts the UTF-16 `text` to UTF-8. A surrogate without its partner,
// which a Windows name may hold, is written as a 3-byte sequence of its own,
// so that Utf8ToUtf16 gives back exactly the name that Windows holds.
std::string Utf16ToUtf8(std::u16string_view text);

// How many bytes at the end of `text` begin a UTF-8 letter that they do not
// complete: 0 to 3.
std::size_t IncompleteUtf8Tail(std::string_view text);

// The form of the full path `path` that the Windows file functions take at
// any length: "\\?\C:\x" for "C:\x", "\\?\UNC\server\share\x" for
// "\\server\share\x"; a path that has the "\\?\" or "\\.\" prefix already
// is returned as it is.
std::u16string LongPathForm(std::u16string_view path);

// Bytes of the longest start of the UTF-8 `text` that is at most `units`
// UTF-16 units long and ends between two letters.
std::size_t Utf8PrefixWithinUnits(std::string_view text, std::size_t units);

// Stands for the bytes of a letter outside ASCII in an AnsiForm.
inline constexpr char kAnsiPlaceholder = '\x80';

// The number of bytes that a code page writes the letter `letter` (one or
// two UTF-16 units) with.
using LetterWidthFn = std::size_t (*)(std::u16string_view letter);

// The UTF-8 `text` as the name rules see it where names are written in a
// code page: each ASCII character as itself, each other letter as
// `width(letter)` bytes kAnsiPlaceholder, so that lengths count as in the
// code page and no byte of such a letter reads as '\', ':' or '.'.
std::string AnsiForm(std::string_view text, LetterWidthFn width);

// The offset in `text` of the character at `position` of its AnsiForm
// `form`, where that character is ASCII or `position` is the form's end.
std::size_t OffsetOfAnsiPosition(std::string_view text, std::string_view form,
                                 std::size_t position);

#endif  // COMMON_WIDE_TEXT_H_

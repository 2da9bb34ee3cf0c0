// UTF-8 and UTF-16 names, their long-path form and their measures.
#include "common/wide_text.h"

#include <algorithm>

namespace {

constexpr char16_t kReplacement = 0xFFFD;
constexpr char32_t kFirstSupplementary = 0x10000;
constexpr char16_t kHighSurrogate = 0xD800;
constexpr char16_t kLowSurrogate = 0xDC00;

// One letter of a UTF-8 text: the bytes it takes and its UTF-16 units.
struct Letter {
  std::size_t bytes = 1;
  char16_t units[2] = {kReplacement, 0};
  std::size_t count = 1;
};

bool IsAscii(char c) { return static_cast<unsigned char>(c) < 0x80; }

// The letter that starts at `at` in the UTF-8 `text`. Surrogates written as
// 3-byte sequences are taken; overlong forms and bytes that begin no letter
// give one U+FFFD per byte.
Letter DecodeLetter(std::string_view text, std::size_t at) {
  const auto byte = [text, at](std::size_t i) {
    return static_cast<unsigned char>(text[at + i]);
  };
  const unsigned char lead = byte(0);
  Letter letter;
  if (lead < 0x80) {
    letter.units[0] = lead;
    return letter;
  }
  std::size_t length = 0;
  char32_t minimum = 0;  // The least value that needs `length` bytes.
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    minimum = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    minimum = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    minimum = kFirstSupplementary;
  } else {
    return letter;
  }
  // The lead byte's bits below its length marker: 5, 4 or 3 of them.
  char32_t value = lead & (0x7Fu >> length);
  if (text.size() - at < length) return letter;
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0u) != 0x80) return letter;
    value = value << 6 | (byte(i) & 0x3Fu);
  }
  if (value < minimum || value > 0x10FFFF) return letter;
  letter.bytes = length;
  if (value < kFirstSupplementary) {
    letter.units[0] = static_cast<char16_t>(value);
    return letter;
  }
  value -= kFirstSupplementary;
  letter.units[0] = static_cast<char16_t>(kHighSurrogate + (value >> 10));
  letter.units[1] = static_cast<char16_t>(kLowSurrogate + (value & 0x3FFu));
  letter.count = 2;
  return letter;
}

bool IsHighSurrogate(char32_t unit) { return unit >= 0xD800 && unit < 0xDC00; }
bool IsLowSurrogate(char32_t unit) { return unit >= 0xDC00 && unit < 0xE000; }

}  // namespace

std::size_t Utf8ToUtf16(std::string_view text, char16_t* out) {
  std::size_t count = 0;
  for (std::size_t at = 0; at < text.size();) {
    const Letter letter = DecodeLetter(text, at);
    out[count++] = letter.units[0];
    if (letter.count == 2) out[count++] = letter.units[1];
    at += letter.bytes;
  }
  return count;
}

std::u16string Utf8ToUtf16(std::string_view text) {
  std::u16string wide(text.size(), u'\0');
  wide.resize(Utf8ToUtf16(text, wide.data()));
  return wide;
}

std::string Utf16ToUtf8(std::u16string_view text) {
  std::string utf8;
  utf8.reserve(text.size());
  for (std::size_t at = 0; at < text.size(); ++at) {
    char32_t value = text[at];
    if (IsHighSurrogate(value) && at + 1 < text.size() &&
        IsLowSurrogate(text[at + 1])) {
      value = kFirstSupplementary + ((value - kHighSurrogate) << 10) +
              (text[++at] - kLowSurrogate);
    }
    if (value < 0x80) {
      utf8 += static_cast<char>(value);
      continue;
    }
    // The lead byte's marker and the number of 6-bit continuation bytes.
    const int continuations = value < 0x800 ? 1 : value < 0x10000 ? 2 : 3;
    const unsigned marker = continuations == 1   ? 0xC0
                            : continuations == 2 ? 0xE0
                                                 : 0xF0;
    utf8 += static_cast<char>(marker | (value >> (6 * continuations)));
    for (int shift = 6 * (continuations - 1); shift >= 0; shift -= 6) {
      utf8 += static_cast<char>(0x80 | ((value >> shift) & 0x3F));
    }
  }
  return utf8;
}

std::size_t IncompleteUtf8Tail(std::string_view text) {
  // The last lead byte among the last three bytes, and its length.
  const std::size_t size = text.size();
  for (std::size_t back = 1; back <= std::min<std::size_t>(size, 3); ++back) {
    const auto byte = static_cast<unsigned char>(text[size - back]);
    if ((byte & 0xC0) == 0x80) continue;
    const std::size_t length = byte >= 0xF0   ? 4
                               : byte >= 0xE0 ? 3
                               : byte >= 0xC0 ? 2
                                              : 1;
    return length > back ? back : 0;
  }
  return 0;
}

std::u16string LongPathForm(std::u16string_view path) {
  if (path.starts_with(u"\\\\?\\") || path.starts_with(u"\\\\.\\")) {
    return std::u16string(path);
  }
  // A share: "\\server\share\x" becomes "\\?\UNC\server\share\x".
  if (path.starts_with(u"\\\\")) {
    return u"\\\\?\\UNC\\" + std::u16string(path.substr(2));
  }
  return u"\\\\?\\" + std::u16string(path);
}

std::size_t Utf8PrefixWithinUnits(std::string_view text, std::size_t units) {
  std::size_t at = 0;
  for (std::size_t used = 0; at < text.size();) {
    const Letter letter = DecodeLetter(text, at);
    if (letter.count > units - used) break;
    used += letter.count;
    at += letter.bytes;
  }
  return at;
}

std::string AnsiForm(std::string_view text, LetterWidthFn width) {
  std::string form;
  form.reserve(text.size());
  for (std::size_t at = 0; at < text.size();) {
    if (IsAscii(text[at])) {
      form += text[at++];
      continue;
    }
    const Letter letter = DecodeLetter(text, at);
    form.append(width(std::u16string_view(letter.units, letter.count)),
                kAnsiPlaceholder);
    at += letter.bytes;
  }
  return form;
}

std::size_t OffsetOfAnsiPosition(std::string_view text, std::string_view form,
                                 std::size_t position) {
  if (position >= form.size()) return text.size();
  // ASCII characters stand in both texts in the same order, and no byte of
  // another letter is ASCII in either: the one at `position` is the one
  // with as many ASCII characters in front of it in `text`.
  auto before = static_cast<std::size_t>(
      std::count_if(form.begin(), form.begin() + position, IsAscii));
  for (std::size_t at = 0; at < text.size(); ++at) {
    if (IsAscii(text[at]) && before-- == 0) return at;
  }
  return text.size();
}

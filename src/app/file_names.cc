// File-name derivation. Names follow the host platform of the job script:
// '\' and ':' end a folder or drive, '/' is an ordinary character.
#include "app/file_names.h"

#include <string_view>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "common/wide_text.h"
#endif

namespace {

constexpr std::string_view kVideoSuffix = ".avi";
constexpr std::string_view kPartsSuffix = ".parts";
constexpr std::string_view kResultSuffix = ".jobs.part";

// A suffix counts only behind at least two characters, so "x.avi" and
// "a.parts" are not recognised.
constexpr std::size_t kMinVideoName = 6;
constexpr std::size_t kMinPartsName = 8;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// True if `name`, which ends in ".avi", holds a '.' and `digits` digits right
// before that suffix, with at least one character in front of the dot.
bool HasPartNumber(std::string_view name, std::size_t digits) {
  const std::size_t size = name.size();
  if (size < digits + 6) return false;
  const std::size_t dot = size - kVideoSuffix.size() - digits - 1;
  if (name[dot] != '.') return false;
  for (std::size_t at = dot + 1; at < dot + 1 + digits; ++at) {
    if (!IsDigit(name[at])) return false;
  }
  return true;
}

// If `name` ends in a recognised suffix, sets `base` to the length left when
// the suffix and any part number in front of it are cut off, and returns true.
bool CutKnownSuffix(std::string_view name, std::size_t* base) {
  const std::size_t size = name.size();
  if (size >= kMinVideoName && name.ends_with(kVideoSuffix)) {
    *base = size - kVideoSuffix.size();
    // Part numbers of three, two and one digit, longest first.
    for (std::size_t digits = 3; digits >= 1; --digits) {
      if (HasPartNumber(name, digits)) {
        *base -= digits + 1;
        break;
      }
    }
    return true;
  }
  if (size >= kMinPartsName && name.ends_with(kPartsSuffix)) {
    *base = size - kPartsSuffix.size();
    return true;
  }
  return false;
}

// Length of the result name's base for a name with no recognised suffix: the
// name without its last extension. Position 0 is never looked at, so a name
// like ".x" keeps its whole text; a '\' or ':' met first means the last dot
// belongs to a folder or drive, not to the file.
std::size_t BaseWithoutExtension(std::string_view name) {
  const std::size_t at = name.find_last_of("\\:.");
  if (at != std::string_view::npos && at > 0 && name[at] == '.') return at;
  return name.size();
}

// Sets `kept` to the length that `name` keeps in the parts-list name and
// `base` to the length it keeps in the result name. Both end at a '.' or at
// the end of the name.
void FindCuts(std::string_view name, std::size_t* kept, std::size_t* base) {
  *kept = name.size();
  if (CutKnownSuffix(name, base)) {
    *kept = *base;
  } else {
    // The parts-list name keeps the whole argument; only the result name
    // drops the last extension.
    *base = BaseWithoutExtension(name);
  }
}

#ifdef _WIN32
// Bytes of `letter` in the ANSI code page; a letter it lacks is written as
// one '?'. No best-fit look-alike is taken, and UTF-8 (65001) has no
// best-fit choice to turn off.
std::size_t AnsiWidth(std::u16string_view letter) {
  char bytes[8];
  const DWORD flags = GetACP() == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
  const int count = WideCharToMultiByte(
      CP_ACP, flags, reinterpret_cast<const wchar_t*>(letter.data()),
      static_cast<int>(letter.size()), bytes, sizeof bytes, nullptr, nullptr);
  return count > 0 ? static_cast<std::size_t>(count) : 1;
}
#endif

}  // namespace

void LowerText(std::string* text) {
#ifdef _WIN32
  std::u16string wide = Utf8ToUtf16(*text);
  if (!wide.empty()) {
    CharLowerBuffW(reinterpret_cast<wchar_t*>(wide.data()),
                   static_cast<DWORD>(wide.size()));
  }
  *text = Utf16ToUtf8(wide);
#else
  for (char& c : *text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
#endif
}

void DeriveFileNames(std::string* name, std::string* result_name) {
  std::size_t kept = 0;
  std::size_t base = 0;
#ifdef _WIN32
  // The cuts found in the code page's form are made at the same '.' or end
  // in the UTF-8 name.
  const std::string form = AnsiForm(*name, AnsiWidth);
  FindCuts(form, &kept, &base);
  kept = OffsetOfAnsiPosition(*name, form, kept);
  base = OffsetOfAnsiPosition(*name, form, base);
#else
  FindCuts(*name, &kept, &base);
#endif
  name->resize(kept);
  result_name->assign(*name, 0, base);
  result_name->append(kResultSuffix);
  name->append(kPartsSuffix);
}

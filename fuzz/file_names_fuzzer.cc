// Fuzz target of the file-name derivation. The input is the command-line
// argument, any bytes. Checks that lowering changes only 'A' to 'Z' and keeps
// the length, that the parts-list name ends in ".parts" and the result name
// in ".jobs.part", that both agree with the naming rules written out case by
// case, and that a parts-list name given back as the argument names itself.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "app/file_names.h"

namespace {

void Check(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "file names: %s\n", what);
  std::abort();
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The parts-list name and the result name for the lowered argument `name`:
// a part number of three, two or one digit before ".avi", a plain ".avi"
// (from six characters on), ".parts" (from eight on), or else the whole name
// for the list and the name up to its last extension for the result.
void NamesByRule(const std::string& name, std::string* parts_list,
                 std::string* result) {
  const std::size_t size = name.size();
  const auto at_end = [&](std::string_view suffix) {
    return name.ends_with(suffix);
  };
  const auto dot_and_digits = [&](std::size_t digits) {
    if (size < 5 + digits + 1 || name[size - 5 - digits] != '.') return false;
    for (std::size_t i = size - 4 - digits; i < size - 4; ++i) {
      if (!IsDigit(name[i])) return false;
    }
    return true;
  };
  std::size_t cut = size;
  std::size_t base = size;
  if (size >= 6 && at_end(".avi")) {
    if (size >= 9 && dot_and_digits(3)) {
      cut = size - 8;
    } else if (size >= 8 && dot_and_digits(2)) {
      cut = size - 7;
    } else if (size >= 7 && dot_and_digits(1)) {
      cut = size - 6;
    } else {
      cut = size - 4;
    }
    base = cut;
  } else if (size >= 8 && at_end(".parts")) {
    cut = base = size - 6;
  } else {
    for (std::size_t at = size; at-- > 1;) {
      if (name[at] == '\\' || name[at] == ':') break;
      if (name[at] == '.') {
        base = at;
        break;
      }
    }
  }
  *parts_list = name.substr(0, cut) + ".parts";
  *result = name.substr(0, base) + ".jobs.part";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  const std::string argument(reinterpret_cast<const char*>(data), size);
  std::string lowered = argument;
  LowerText(&lowered);
  Check(lowered.size() == argument.size(), "lowering changed the length");
  for (std::size_t i = 0; i < size; ++i) {
    const char c = argument[i];
    const char lower = c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
    Check(lowered[i] == lower, "lowering changed more than 'A' to 'Z'");
  }

  std::string parts_list = lowered;
  std::string result;
  DeriveFileNames(&parts_list, &result);
  Check(parts_list.ends_with(".parts"), "list name lacks \".parts\"");
  Check(result.ends_with(".jobs.part"), "result name lacks \".jobs.part\"");
  std::string parts_list_by_rule;
  std::string result_by_rule;
  NamesByRule(lowered, &parts_list_by_rule, &result_by_rule);
  Check(parts_list == parts_list_by_rule, "list name breaks the rules");
  Check(result == result_by_rule, "result name breaks the rules");

  // "movie.parts" as the argument reads "movie.parts"; names shorter than
  // eight characters are too short to count as a list name.
  if (parts_list.size() >= 8) {
    std::string again = parts_list;
    std::string ignored;
    DeriveFileNames(&again, &ignored);
    Check(again == parts_list, "list name as argument names another list");
  }
  return 0;
}

// A straightforward program that does KOLVA's work on the benchmark's lists,
// for comparison: tokens read by a stream, fields split by a string search,
// std::stable_sort, lines written by a stream. It handles only what the
// benchmark's lists hold (no 0x1A, no zero bytes) and takes the list and
// result names as they are.
// Usage: baseline LIST RESULT
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace {

struct Entry {
  std::int32_t part_number;
  std::int32_t order_key;
};

// The comma-separated fields of `token`, runs of commas as one separator.
std::vector<std::string> Fields(const std::string& token) {
  std::vector<std::string> fields;
  std::size_t at = token.find_first_not_of(',');
  while (at != std::string::npos) {
    const std::size_t end = token.find(',', at);
    fields.push_back(token.substr(at, end - at));
    at = token.find_first_not_of(',', end);
  }
  return fields;
}

std::int32_t Number(const std::string& field) {
  return static_cast<std::int32_t>(std::strtoll(field.c_str(), nullptr, 10));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: baseline LIST RESULT\n";
    return 2;
  }
  std::ifstream list(argv[1], std::ios::binary);
  std::string input, output, options;
  if (!(list >> input >> output >> options) || !output.starts_with("Output:")) {
    std::cerr << "not a parts list\n";
    return 1;
  }
  const std::string name = output.substr(7);
  const std::size_t dot = name.rfind('.');
  const std::string stem = name.substr(0, dot);
  const std::string extension = name.substr(dot + 1);

  std::vector<Entry> entries;
  std::string token;
  while (list >> token) {
    const std::vector<std::string> fields = Fields(token);
    const Entry entry{Number(fields[0]),
                      fields.size() >= 4 ? Number(fields[3]) : 0};
    if (entry.part_number != 0 || entry.order_key != 0) {
      entries.push_back(entry);
    }
  }
  std::stable_sort(
      entries.begin(), entries.end(),
      [](const Entry& a, const Entry& b) { return a.order_key < b.order_key; });

  std::ofstream result(argv[2], std::ios::binary | std::ios::trunc);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    result << (i == 0 ? "Framequill.Open(\"" : "Framequill.Append(\"") << stem
           << '.' << entries[i].part_number << '.' << extension
           << (i == 0 ? "\",0,0);\r\n" : "\");\r\n");
  }
  return result.good() ? 0 : 1;
}

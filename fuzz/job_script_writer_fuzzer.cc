// Fuzz target of the job-script writer: arbitrary output names and entry
// tables, written through output buffers of every size. Checks that
//   - the table comes out in ascending key order, equal keys in table order;
//   - the text is an open line followed by one append line per further entry,
//     every line ending in CR LF;
//   - each line holds exactly one string literal, which no byte of the name
//     can close or extend, and which reads back as the part's file name;
//   - a sink that fills up fails the write and holds a prefix of the text.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "common/text_output.h"
#include "jobscript/entry_order.h"
#include "jobscript/job_script_writer.h"
#include "partslist/parts_list_reader.h"
#include "test_support.h"

namespace {

constexpr std::string_view kOpenStart = "Framequill.Open(\"";
constexpr std::string_view kOpenEnd = "\",0,0);";
constexpr std::string_view kAppendStart = "Framequill.Append(\"";
constexpr std::string_view kAppendEnd = "\");";

void Check(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "job-script writer: %s\n", what);
  std::abort();
}

// The output name is a token's value: never empty, and without white space,
// zero bytes, ':' or 0x1A. Every other byte, '"' and '\' included, can occur.
std::string AsOutputName(std::string bytes) {
  std::erase_if(bytes, [](char c) {
    return c == ' ' || (c >= '\t' && c <= '\r') || c == '\0' || c == ':' ||
           c == '\x1a';
  });
  return bytes;
}

// `text` with a '\' before every '\' and '"': the one string literal body
// that reads back as `text` (ReadLiteralBody below reads every other body as
// another text or not at all).
std::string Escaped(std::string_view text) {
  std::string body;
  for (const char c : text) {
    if (c == '\\' || c == '"') body.push_back('\\');
    body.push_back(c);
  }
  return body;
}

// The literal body a line must hold is `before`, the part number and `after`:
// the part's file name, which is the output name with the part number put in
// before the extension (the text after the last dot that follows the last
// '\' and is not the first byte), or appended with an empty extension when
// there is none, escaped. Made once per name, so that the lines are checked
// without allocating.
struct PartFileName {
  std::string before;
  std::string after;
};

PartFileName PartFileNameAround(std::string_view name) {
  const std::size_t slash = name.rfind('\\');
  const std::size_t dot = name.rfind('.');
  std::string_view stem = name;
  std::string_view extension;
  if (dot != std::string_view::npos && dot > 0 &&
      (slash == std::string_view::npos || dot > slash)) {
    stem = name.substr(0, dot);
    extension = name.substr(dot + 1);
  }
  return {Escaped(stem) + ".", "." + Escaped(extension)};
}

// Whether the literal body `body` reads back as the part's file name of
// `part`.
bool NamesPart(std::string_view body, const PartFileName& around,
               std::int32_t part) {
  char digits[16];
  const char* const end = std::to_chars(digits, digits + 16, part).ptr;
  const std::string_view number(digits, static_cast<std::size_t>(end - digits));
  return body.size() ==
             around.before.size() + number.size() + around.after.size() &&
         body.starts_with(around.before) && body.ends_with(around.after) &&
         body.substr(around.before.size(), number.size()) == number;
}

// Reads the body of a string literal, undoing its escapes. Fails on a quote
// that would end the literal early and on a backslash that is not one of the
// two escapes, which would swallow the closing quote or mean something else.
// Tells a wrong line's two faults apart.
bool ReadLiteralBody(std::string_view body, std::string* text) {
  text->clear();
  for (std::size_t at = 0; at < body.size(); ++at) {
    if (body[at] == '"') return false;
    if (body[at] == '\\') {
      if (++at == body.size() || (body[at] != '\\' && body[at] != '"')) {
        return false;
      }
    }
    text->push_back(body[at]);
  }
  return true;
}

void CheckLines(std::string_view written, const EntryTable& ordered,
                std::string_view name) {
  const PartFileName around = PartFileNameAround(name);
  std::string file_name;
  for (std::size_t i = 0; i < ordered.size(); ++i) {
    const std::size_t stop = written.find("\r\n");
    Check(stop != std::string_view::npos, "a line does not end in CR LF");
    const std::string_view line = written.substr(0, stop);
    written.remove_prefix(stop + 2);
    Check(line.find('\r') == std::string_view::npos &&
              line.find('\n') == std::string_view::npos,
          "a line holds a lone CR or LF");
    const std::string_view start = i == 0 ? kOpenStart : kAppendStart;
    const std::string_view end = i == 0 ? kOpenEnd : kAppendEnd;
    Check(line.size() >= start.size() + end.size() && line.starts_with(start) &&
              line.ends_with(end),
          i == 0 ? "first line is no open line" : "line is no append line");
    const std::string_view body =
        line.substr(start.size(), line.size() - start.size() - end.size());
    if (!NamesPart(body, around, ordered[i].part_number)) {
      Check(ReadLiteralBody(body, &file_name),
            "the name can close or extend the string literal");
      Check(false, "a line names the wrong file");
    }
  }
  Check(written.empty(), "text after the last line");
}

bool SameEntries(const EntryTable& a, const EntryTable& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [](const PartEntry& x, const PartEntry& y) {
                      return x.part_number == y.part_number &&
                             x.order_key == y.order_key;
                    });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  FuzzedDataProvider provider(data, size);
  const std::size_t buffer_size =
      provider.ConsumeBool()
          ? kOutputBufferSize
          : provider.ConsumeIntegralInRange<std::size_t>(0, 64);
  const bool limited = provider.ConsumeBool();
  const auto sink_limit = provider.ConsumeIntegral<std::uint16_t>();
  const std::string name = AsOutputName(provider.ConsumeRandomLengthString());
  if (name.empty()) return 0;
  // Keys from a small range give many ties; part numbers that count up make
  // any reordering of tied entries visible.
  EntryTable table;
  // Every entry takes at least one byte.
  table.reserve(provider.remaining_bytes());
  while (provider.remaining_bytes() > 0) {
    const std::int32_t part = provider.ConsumeBool()
                                  ? static_cast<std::int32_t>(table.size())
                                  : provider.ConsumeIntegral<std::int32_t>();
    const std::int32_t key = provider.ConsumeBool()
                                 ? provider.ConsumeIntegralInRange(-2, 2)
                                 : provider.ConsumeIntegral<std::int32_t>();
    table.push_back({part, key});
  }
  EntryTable ordered = table;
  std::stable_sort(ordered.begin(), ordered.end(),
                   [](const PartEntry& a, const PartEntry& b) {
                     return a.order_key < b.order_key;
                   });

  EntryTable entries = table;
  MemorySink sink;
  // Room for the whole text at once, instead of growing it step by step.
  sink.bytes.reserve(table.size() * (kAppendStart.size() + 2 * name.size() +
                                     11 + kOpenEnd.size() + 2));
  TextOutput output = MakeTextOutput(WriteToMemory, &sink, buffer_size);
  SortEntries(&entries);
  const LineTexts texts = ComposeLines(name);
  WriteResultLines(&output, entries, texts);
  Check(FlushTextOutput(&output), "a write to an unlimited sink failed");
  Check(SameEntries(entries, ordered), "table not in stable key order");
  CheckLines(sink.bytes, ordered, name);

  if (limited) {
    MemorySink small_sink;
    small_sink.capacity = sink_limit;
    small_sink.bytes.reserve(
        std::min<std::size_t>(sink_limit, sink.bytes.size()));
    TextOutput small = MakeTextOutput(WriteToMemory, &small_sink, buffer_size);
    WriteResultLines(&small, entries, texts);
    Check(FlushTextOutput(&small) == (sink.bytes.size() <= sink_limit),
          "a sink too small for the text did not fail the write, or one "
          "large enough did");
    Check(sink.bytes.starts_with(small_sink.bytes),
          "a failed write left bytes that are no prefix of the text");
  }
  return 0;
}

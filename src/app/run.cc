// Run sequence and console messages. Only this file prints, and it decides
// the exit status.
#include "app/run.h"

#include <cstdio>
#include <new>
#include <string>
#include <string_view>

#include "app/file_names.h"
#include "common/console.h"
#include "common/exit_status.h"
#include "common/files.h"
#include "common/text_input.h"
#include "common/wide_text.h"
#include "jobscript/entry_order.h"
#include "jobscript/job_script_writer.h"
#include "partslist/parts_list_reader.h"

namespace {

constexpr std::string_view kBanner =
    "\nKOLVA, ver. " KOLVA_VERSION ".\n" KOLVA_DESCRIPTION ".\n";
constexpr std::string_view kNoFileName =
    "\nPlease specify file name to process.\n";
constexpr std::string_view kUsage =
    "\n  USAGE:\n\tKOLVA[.exe] "
    "<video_file_processed_by_cluster>[[[.##].avi]|[.parts]]\n\n";
constexpr std::string_view kProcessingFile = "\nProcessing file: %s... ";
constexpr std::string_view kWritingResult = "OK\nWriting result file: %s... ";
constexpr std::string_view kDone =
    "Done.\n\nReplace 'Framequill.Open(\"path\\file.avi\",0,0);' line in "
    "your .jobs file\nwith the contents of the result file and then run your "
    "job.\n\nEnjoy!\n";
constexpr std::string_view kCannotOpen =
    "Error: cannot open file.\nProgram cannot continue";
constexpr std::string_view kNotValid =
    "Error: this dosn't appear to be a valid .parts file.\nProgram cannot "
    "continue";
constexpr std::string_view kCannotWrite =
    "Error: cannot write file.\nProgram cannot continue";
constexpr std::string_view kOutOfMemory =
    "Error: out of memory.\nProgram cannot continue";

// Prints an error message and answers false, for the caller to return.
bool PrintError(TextOutput* console, std::string_view message) {
  WriteText(console, message);
  return false;
}

// Opens, reads and closes the parts list `name`. Returns false after
// printing why the run cannot go on.
bool ReadListFile(const std::string& name, std::string* output_name,
                  EntryTable* entries, TextOutput* console) {
  std::uint64_t size = 0;
  std::FILE* const file = OpenFileForReading(name, &size);
  if (file == nullptr) return PrintError(console, kCannotOpen);
  bool valid = false;
  try {
    TextInput input = MakeTextInput(ReadFromFile, file);
    valid = ReadPartsList(&input, size, output_name, entries);
  } catch (const std::bad_alloc&) {
    std::fclose(file);
    return PrintError(console, kOutOfMemory);
  }
  std::fclose(file);
  if (!valid) return PrintError(console, kNotValid);
  return true;
}

// Orders the entries and writes the lines into a new file that replaces the
// result file `name` only once it is complete. Returns false after printing
// why; the result name then holds what it held before. All that needs
// memory is done before any file is created, so running out of it changes
// nothing either.
bool WriteResultFile(const std::string& name, std::string_view output_name,
                     EntryTable* entries, TextOutput* console) {
  ResultFile result;
  TextOutput output;
  LineTexts texts;
  try {
    SortEntries(entries);
    texts = ComposeLines(output_name);
    result = MakeResultFile(name);
    output = MakeTextOutput(WriteToResultFile, &result);
  } catch (const std::bad_alloc&) {
    return PrintError(console, kOutOfMemory);
  }
  if (!CreateResultFile(&result)) return PrintError(console, kCannotOpen);
  WriteResultLines(&output, *entries, texts);
  const bool written = FlushTextOutput(&output);
  if (!ReplaceResultFile(&result, written)) {
    return PrintError(console, kCannotWrite);
  }
  return true;
}

// The argument as the names are held: bytes as they come, or the UTF-16 of
// Windows as UTF-8.
std::string ArgumentText(const char* argument) { return argument; }
std::string ArgumentText(const char16_t* argument) {
  return Utf16ToUtf8(argument);
}

template <typename Char>
int RunOn(int argc, const Char* const* argv, TextOutput* console) {
  WriteText(console, kBanner);
  if (argc < 2 || argv[1] == nullptr) {
    WriteText(console, kNoFileName);
    WriteText(console, kUsage);
    return kExitFailure;
  }
  std::string parts_list_name = ArgumentText(argv[1]);
  // The usual ways to ask a console program for help; a '?' cannot stand in
  // a Windows file name, so neither can name a parts list.
  const std::string_view argument = parts_list_name;
  if (argument == "/?" || argument == "-?") {
    WriteText(console, kUsage);
    return kExitSuccess;
  }
  LowerText(&parts_list_name);
  std::string result_name;
  DeriveFileNames(&parts_list_name, &result_name);

  WriteFormatted(console, kProcessingFile, parts_list_name);
  // Show the line before a long read.
  FlushTextOutput(console);
  std::string output_name;
  EntryTable entries;
  if (!ReadListFile(parts_list_name, &output_name, &entries, console)) {
    return kExitFailure;
  }
  // The parts list is closed before the result file is written, and only
  // once it was found valid.
  WriteFormatted(console, kWritingResult, result_name);
  FlushTextOutput(console);
  if (!WriteResultFile(result_name, output_name, &entries, console)) {
    return kExitFailure;
  }
  WriteText(console, kDone);
  return kExitSuccess;
}

template <typename Char>
int RunProgramOn(int argc, const Char* const* argv) {
  SetUpProcessOutput();
  StandardOutput standard_output = OpenStandardOutput();
  // Not taken from the heap, so that the console can say that memory ran
  // out whenever that happens.
  char console_buffer[4096];
  TextOutput console = MakeTextOutputIn(WriteToStandardOutput, &standard_output,
                                        console_buffer, sizeof console_buffer);
  int status = kExitFailure;
  try {
    status = RunOn(argc, argv, &console);
  } catch (const std::bad_alloc&) {
    // Only the names of a huge argument, its conversion from UTF-16 and the
    // list name's system form can get here, while no file is open; the
    // stages that hold files open handle it themselves.
    WriteText(&console, kOutOfMemory);
  }
  FlushTextOutput(&console);
  return status;
}

}  // namespace

int Run(int argc, const char* const* argv, TextOutput* console) {
  return RunOn(argc, argv, console);
}

int RunProgram(int argc, const char* const* argv) {
  return RunProgramOn(argc, argv);
}

int RunProgram(int argc, const char16_t* const* argv) {
  return RunProgramOn(argc, argv);
}

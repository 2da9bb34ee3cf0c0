// Tests of the parts-list reader, fed from memory and from a real file.
#include "partslist/parts_list_reader.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>

#include "common/files.h"
#include "test_support.h"

namespace {

using namespace std::string_literals;

// Reads `data` as a parts list, handed out `chunk` bytes per read and with
// `size_hint` as its expected size, and renders the outcome as
// "valid NAME PART:KEY ..." or "not valid".
std::string ReadList(const std::string& data, std::size_t chunk,
                     bool fail_at_end = false, std::uint64_t size_hint = 0) {
  MemorySource source{data, chunk, fail_at_end};
  TextInput input = MakeTextInput(ReadFromMemory, &source);
  std::string output_name;
  EntryTable entries;
  if (!ReadPartsList(&input, size_hint, &output_name, &entries)) {
    return "not valid";
  }
  std::string outcome = "valid ";
  outcome += output_name;
  for (const PartEntry& entry : entries) {
    outcome += ' ';
    outcome += std::to_string(entry.part_number);
    outcome += ':';
    outcome += std::to_string(entry.order_key);
  }
  return outcome;
}

// Every case is read whole, byte by byte and in three-byte reads, so tokens
// cross every possible read boundary.
void ExpectList(const std::string& data, const std::string& expected) {
  for (const std::size_t chunk : {std::numeric_limits<std::size_t>::max(),
                                  std::size_t{1}, std::size_t{3}}) {
    EXPECT_EQ(ReadList(data, chunk), expected)
        << "list: " << data << "\nread size: " << chunk;
  }
}

const std::string kHeader = "Input:src.avi\nOutput:movie.avi\nOptions:x\n";

TEST(ReadPartsListTest, ChecksTheHeader) {
  const struct {
    std::string data;
    std::string expected;
  } cases[] = {
      {kHeader, "valid movie.avi"},
      {"Input\nOutput:m\nOptions", "valid m"},
      {"::Input::x Output::m::z :Options:", "valid m"},
      {"Input:a Output:c:\\clips\\movie.avi Options:x", "valid c"},
      {"Input:a\r\nOutput:m\r\nOptions:x\r\n", "valid m"},
      {"Input:a\tOutput:m\vOptions:x\f", "valid m"},
      {"Input:a Output: Options:x", "not valid"},
      {"Input:a Output Options:x", "not valid"},
      {"input:a Output:m Options:x", "not valid"},
      {"Input:a OUTPUT:m Options:x", "not valid"},
      {"Input:a Output:m Option:x", "not valid"},
      {"Input:a Output:m options:x", "not valid"},
      {"Inputs:a Output:m Options:x", "not valid"},
      {"Input:a Outputx:m Options:x", "not valid"},
      {"Input:a Output:m Optionsx", "not valid"},
      {"Output:m Input:a Options:x", "not valid"},
      {"Input: d:\\clips\\movie.avi Output:m Options:x", "not valid"},
      {"", "not valid"},
      {" \t\r\n\v\f ", "not valid"},
      {"Input:a Output:m", "not valid"},
      {"Input:a Output:m\x1AOptions:x", "not valid"},
      {"Input:a Output:m\0xyz Options:x"s, "valid m"},
      {"Input:a \0Output:m Options:x"s, "not valid"},
  };
  for (const auto& c : cases) ExpectList(c.data, c.expected);
}

TEST(ReadPartsListTest, CollectsEntriesInReadingOrder) {
  const struct {
    std::string entries;
    std::string expected;
  } cases[] = {
      {"2,a,b,3000\n1,a,b,0\n", " 2:3000 1:0"},
      {"2,a,b,3000\r\n1,a,b,0", " 2:3000 1:0"},
      {"5", " 5:0"},
      {"3,a,b,-5 3,a,b,12abc", " 3:-5 3:12"},
      {"0,a,b,0 abc,x,y,z 0,,,7 , ,,,,", ""},
      {"0,a,b,7", " 0:7"},
      {"1, 2, 3, 4", " 1:0 2:0 3:0 4:0"},
      {"1\t2\v3\f4\r5\n6", " 1:0 2:0 3:0 4:0 5:0 6:0"},
      {",,7,,a,b,,9,extra", " 7:9"},
      {"4294967297,a,b,-2147483649", " 1:2147483647"},
      {"1,a,b,1\x1A"
       "2,a,b,2",
       " 1:1"},
      {"1\0,a,b,5 \0"
       "9,a,b,3 2,a\0,b,4"s,
       " 1:0 2:0"},
  };
  for (const auto& c : cases) {
    ExpectList(kHeader + c.entries, "valid movie.avi" + c.expected);
  }
}

TEST(ReadPartsListTest, KeepsTokensLongerThanOneRead) {
  const std::string name(3 * kTextBlockSize + 7, 'n');
  EXPECT_EQ(ReadList("Input:a Output:" + name + " Options:x 4,a,b,2", 65536),
            "valid " + name + " 4:2");
}

TEST(ReadPartsListTest, SizeHintChangesNothingButMemory) {
  // Enough entries for the reader to estimate the rest from the hint.
  std::string list = kHeader;
  std::string expected = "valid movie.avi";
  for (int part = 1; part <= 10000; ++part) {
    const std::string entry =
        std::to_string(part) + ",h,1.5," + std::to_string(part % 7 - 3);
    list += (part % 100 == 0 ? "0,a,b,0 abc\n" : "") + entry + "\n";
    expected += " " + std::to_string(part) + ":" + std::to_string(part % 7 - 3);
  }
  const std::uint64_t size = list.size();
  // Reads of 4096 bytes, and reads whose first one ends inside the 4097th
  // entry, the first entry read after the estimate.
  const std::size_t split = list.find("\n4097,") + 4;
  ASSERT_LT(split, kTextBlockSize) << "the first read must end at the split";
  for (const std::size_t chunk : {std::size_t{4096}, split}) {
    for (const std::uint64_t hint :
         {std::uint64_t{0}, std::uint64_t{1}, size / 3, size, size * 20,
          std::numeric_limits<std::uint64_t>::max()}) {
      EXPECT_EQ(ReadList(list, chunk, false, hint), expected)
          << "size hint " << hint << ", read size " << chunk;
    }
  }
}

TEST(ReadPartsListTest, ReadErrorMakesTheListNotValid) {
  // Without this the parts after the error would be dropped in silence.
  EXPECT_EQ(ReadList(kHeader + "1,a,b,1\n2,a,b,2\n", 7, true), "not valid");
  EXPECT_EQ(ReadList(kHeader, 7), "valid movie.avi");
  EXPECT_EQ(ReadList(kHeader, 7, true), "not valid");
}

// Passes reads on to ReadFromFile until `good_reads` are done, then puts a
// descriptor open for writing only in the file's place, so that every later
// read fails as a failing disk would.
// (cppcheck does not follow the use through the void pointer.)
struct FailingFile {
  // cppcheck-suppress unusedStructMember
  std::FILE* file;
  // cppcheck-suppress unusedStructMember
  int good_reads;
};

std::ptrdiff_t ReadThenFail(void* source, char* buffer, std::size_t size) {
  auto* const failing = static_cast<FailingFile*>(source);
  if (failing->good_reads-- == 0) {
    const int write_only = open("/dev/null", O_WRONLY);
    dup2(write_only, fileno(failing->file));
    close(write_only);
  }
  return ReadFromFile(failing->file, buffer, size);
}

TEST(ReadFromFileTest, ReadErrorAfterValidStartMakesListNotValid) {
  const std::string path =
      (std::filesystem::temp_directory_path() /
       ("kolva_reader_test_" + std::to_string(getpid()) + ".parts"))
          .string();
  {
    std::ofstream list(path, std::ios::binary);
    list << "Input:a\nOutput:movie.avi\nOptions:x\n";
    // More than one block, so that the read error comes after a whole block
    // of valid entries.
    for (int part = 1; part <= 100000; ++part) list << part << ",a,b,0\n";
  }
  for (const int good_reads : {1, 1000}) {
    std::uint64_t size = 0;
    std::FILE* const file = OpenFileForReading(path, &size);
    ASSERT_NE(file, nullptr);
    FailingFile failing{file, good_reads};
    TextInput input = MakeTextInput(ReadThenFail, &failing);
    std::string output_name;
    EntryTable entries;
    EXPECT_EQ(ReadPartsList(&input, size, &output_name, &entries),
              good_reads > 1)
        << good_reads << " good reads";
    std::fclose(file);
  }
  std::filesystem::remove(path);
}

}  // namespace

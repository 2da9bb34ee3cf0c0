// A native machine word handled as bytes, for the code that reads or writes
// text a word at a time: four bytes in a 32-bit program, eight in a 64-bit
// one, so that no step takes two registers or a helper call.
#ifndef COMMON_MACHINE_WORD_H_
#define COMMON_MACHINE_WORD_H_

#include <array>
#include <bit>
#include <cstddef>

namespace machine_word {

// The first byte of text is in the lowest bits of a word.
using Word = std::size_t;
static_assert(std::endian::native == std::endian::little,
              "word-at-a-time code expects little-endian byte order");

constexpr std::size_t kWordBytes = sizeof(Word);

// A 1 in every byte.
constexpr Word kOnes = ~Word{0} / 0xFF;

// 10^n for the lane widths of a word, n from 0 to 4.
constexpr std::array<Word, 5> kPowersOfTen = {1, 10, 100, 1000, 10000};

}  // namespace machine_word

#endif  // COMMON_MACHINE_WORD_H_

// The digits of pi and the two layouts they are written in.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace drmpi {

// The digits after the point of pi (an MpNumber with exponent 1, its words
// turned non-negative here, in place): five for each of the words 2 ..
// word_count + 1, and for the word after them when word_count is odd, since
// the layout prints words in pairs.
std::string pi_digits(double* pi, int word_count);

// Writes "  Pi = 3. " and the digits in numbered lines of eight groups of ten:
// each line "\n", a blank, the position of its first digit after the point in
// %8d, and the groups, each after a blank.  No newline ends the last line.
// digits.size() is a multiple of 10.
void write_digit_lines(FILE* f, const std::string& digits);

// Writes "3.", the first count digits and a newline.
void write_plain(FILE* f, const std::string& digits, int64_t count);

}  // namespace drmpi

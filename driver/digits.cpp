// The digits of pi and the two ways they are written: the numbered lines of
// the result layout, and one plain line.
#include <array>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>

#include "driver/digits.h"
#include "mp/mp.h"

namespace drmpi {

std::string pi_digits(double* pi, int word_count) {
    mp_normalize(pi + 1, word_count + 3, Carry::NonNegative);
    // Word 1 is the integer part 3; the fraction starts at word 2.
    const int words = word_count + word_count % 2;
    std::string digits(static_cast<size_t>(words) * DigitsPerWord, '0');
    // A word's five digits as two pairs and one between: two divisions by
    // constants where a digit at a time takes five.
    static_assert(DigitsPerWord == 5);
    static constexpr auto Pairs = [] {
        std::array<char, 200> t{};
        for (int i = 0; i < 100; ++i) {
            t[2 * i] = static_cast<char>('0' + i / 10);
            t[2 * i + 1] = static_cast<char>('0' + i % 10);
        }
        return t;
    }();
    for (int j = 0; j < words; ++j) {
        const auto w = static_cast<uint32_t>(pi[2 + j]);
        const uint32_t high = w / 1000, low = w % 1000;
        char* const d = digits.data() + static_cast<size_t>(j) * DigitsPerWord;
        std::memcpy(d, &Pairs[2 * high], 2);
        d[2] = static_cast<char>('0' + low / 100);
        std::memcpy(d + 3, &Pairs[2 * (low % 100)], 2);
    }
    return digits;
}

void write_digit_lines(FILE* f, const std::string& digits) {
    std::fputs("  Pi = 3. ", f);
    // One line at a time: "\n", the position in %8d after a blank, and up to
    // eight groups of ten digits, each after a blank.  The position is written
    // with to_chars: snprintf took a fifth of the writing.
    char line[128];
    for (size_t at = 0; at < digits.size(); at += 80) {
        char number[24];
        const int width =
            static_cast<int>(std::to_chars(number, std::end(number), at + 1).ptr - number);
        int len = 0;
        line[len++] = '\n';
        line[len++] = ' ';
        for (int pad = width; pad < 8; ++pad) line[len++] = ' ';
        std::memcpy(line + len, number, static_cast<size_t>(width));
        len += width;
        for (size_t g = at; g < at + 80 && g < digits.size(); g += 10) {
            line[len++] = ' ';
            digits.copy(line + len, 10, g);
            len += 10;
        }
        std::fwrite(line, 1, static_cast<size_t>(len), f);
    }
}

void write_plain(FILE* f, const std::string& digits, int64_t count) {
    std::fputs("3.", f);
    std::fwrite(digits.data(), 1, static_cast<size_t>(count), f);
    std::fputc('\n', f);
}

}  // namespace drmpi

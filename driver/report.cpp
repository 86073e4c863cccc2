// The result report: total time, rounding error and the digits of pi.
#include <cstdint>
#include <cstdio>

#include "driver/driver.h"
#include "mp/mp.h"

namespace drmpi {

void report_result(double* pi, int word_count, int digits_per_word, int start_time,
                   double max_error) {
    mp_normalize(pi + 1, word_count + 3, Carry::NonNegative);
    const double total = (clock_ms() - start_time) / 1000.0;
    print_both("  Total Time= %f (s)  Rounding Error= %e \n", total, max_error);

    // Word 1 is the integer part 3; the fraction starts at word 2.  Words go
    // out in pairs, so a line with an odd count shows the word after it too.
    std::fprintf(ResultFile, "  Pi = 3. ");
    for (int j = 1; j <= word_count; j += 16) {
        const int count = imin(16, word_count - j + 1);
        std::fprintf(ResultFile, "\n %8d", (j - 1) * digits_per_word + 1);
        for (int q = 1; q <= count; q += 2) {
            std::fprintf(ResultFile, " %5.5d%5.5d", static_cast<int32_t>(pi[j + q]),
                         static_cast<int32_t>(pi[j + q + 1]));
        }
    }
}

bool result_sound(const double* pi, double max_error) {
    return max_error <= ErrorLimit && pi[0] == 1.0 && pi[1] == 3.0;
}

}  // namespace drmpi

// The result report: total time, rounding error and the digits of pi.
#include <cstdint>
#include <cstdio>
#include <string>

#include "driver/driver.h"
#include "mp/mp.h"

namespace drmpi {

void report_result(double* pi, int word_count, int start_time, double max_error) {
    const std::string digits = pi_digits(pi, word_count);
    const double total = (clock_ms() - start_time) / 1000.0;
    print_both("  Total Time= %f (s)  Rounding Error= %e \n", total, max_error);
    write_digit_lines(ResultFile, digits);
}

bool result_sound(const double* pi, double max_error) {
    return max_error <= ErrorLimit && pi[0] == 1.0 && pi[1] == 3.0;
}

}  // namespace drmpi

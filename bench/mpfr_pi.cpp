// mpfr_pi DIGITS FILE: writes "3." and the first DIGITS decimal digits of pi
// after the point, truncated, and a newline to FILE.
//
// A yardstick for drmpi: MPFR's own pi (mpfr_const_pi) and its decimal
// conversion (mpfr_get_str), as a user of the library would call them.
#include <mpfr.h>

#include <cmath>

#include "yardstick.h"

int main(int argc, char** argv) {
    const long digits = yardstick_digits(argc, argv);
    if (digits == 0) return 2;
    // 64 bits beyond the DIGITS + 1 significant digits: pi rounded toward zero
    // then truncates to the same digits unless 18 or more of the digits that
    // follow are all 9.
    const double bits = std::ceil(static_cast<double>(digits + 1) * std::log2(10.0)) + 64;
    mpfr_t pi;
    mpfr_init2(pi, static_cast<mpfr_prec_t>(bits));
    mpfr_const_pi(pi, MPFR_RNDZ);
    mpfr_exp_t exponent = 0;
    char* text = mpfr_get_str(nullptr, &exponent, 10, static_cast<size_t>(digits + 1), pi,
                              MPFR_RNDZ);
    const int status = yardstick_write(argv, text + 1);
    mpfr_free_str(text);
    mpfr_clear(pi);
    return status;
}

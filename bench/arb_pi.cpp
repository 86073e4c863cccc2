// arb_pi DIGITS FILE [THREADS]: writes "3." and the first DIGITS decimal
// digits of pi after the point, truncated, and a newline to FILE.
//
// A yardstick for drmpi: Arb's own pi (arb_const_pi) and its decimal
// conversion (arb_get_str), as a user of the library would call them, on
// THREADS threads of FLINT (1 by default).
#include <arb.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "yardstick.h"

namespace {

// Digits converted beyond those written, to decide the truncation; with 18,
// every tail of them fits in 64 bits.
constexpr long Guard = 18;
// 10^n, 0 <= n <= 19.
constexpr uint64_t power_of_10(long n) { return n == 0 ? 1 : 10 * power_of_10(n - 1); }

// Whether pi's first `digits` digits after the point are those of text, the
// output "[3.D...DG...G +/- R]" of arb_get_str with digits + Guard digits
// after the point.  arb_get_str guarantees that pi lies within R of the
// midpoint printed; the truncation is sure when neither end of that interval
// crosses a multiple of 10^-digits, that is when the guard digits G, as an
// integer t, and R in units of their last digit, rounded up to r, satisfy
// r <= t <= 10^Guard - 1 - r.  False too for a text of any other form.
bool truncation_sure(const char* text, long digits) {
    if (std::strlen(text) < static_cast<size_t>(3 + digits + Guard + 5) ||
        std::strncmp(text, "[3.", 3) != 0)
        return false;
    const char* tail = text + 3 + digits;
    if (std::strncmp(tail + Guard, " +/- ", 5) != 0) return false;
    uint64_t t = 0;
    for (long i = 0; i < Guard; ++i) t = 10 * t + static_cast<uint64_t>(tail[i] - '0');
    // R = mantissa 10^exponent, read apart: R can lie far below the range of
    // a double.  In units of 10^-(digits + Guard) it is mantissa
    // 10^(exponent + digits + Guard), below 1 (the rounding of the midpoint
    // to its last digit); one unit more covers the rounding of this double.
    const char* radius = tail + Guard + 5;
    const char* e = std::strchr(radius, 'e');
    if (!e) return false;
    const double mantissa = std::strtod(std::string(radius, e).c_str(), nullptr);
    char* end = nullptr;
    const long exponent = std::strtol(e + 1, &end, 10);
    if (*end != ']' || exponent + digits + Guard > 3) return false;
    const double units = mantissa * std::pow(10.0, static_cast<double>(exponent + digits + Guard));
    const uint64_t r = static_cast<uint64_t>(std::ceil(units)) + 1;
    return t >= r && t <= power_of_10(Guard) - 1 - r;
}

}  // namespace

int main(int argc, char** argv) {
    long threads = 1;
    const long digits = yardstick_digits(argc, argv, 9, &threads);
    if (digits == 0) return 2;
    flint_set_num_threads(static_cast<int>(threads));
    // 64 bits beyond the 1 + digits + Guard significant digits converted: the
    // ball's radius stays far below the conversion's own rounding.
    const double bits = std::ceil(static_cast<double>(1 + digits + Guard) * std::log2(10.0)) + 64;
    arb_t pi;
    arb_init(pi);
    arb_const_pi(pi, static_cast<slong>(bits));
    char* text = arb_get_str(pi, 1 + digits + Guard, ARB_STR_MORE);
    int status = 1;
    if (!truncation_sure(text, digits)) {
        std::fprintf(stderr, "%s: the digit after position %ld is undecided\n", argv[0], digits);
    } else {
        text[3 + digits] = '\0';
        status = yardstick_write(argv, text + 3);
    }
    flint_free(text);
    arb_clear(pi);
    return status;
}

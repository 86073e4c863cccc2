// The result report: the header and closing lines of a run, the total time,
// rounding error and the digits of pi.
#include <cinttypes>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <string>

#include "driver/driver.h"
#include "mp/mp.h"

namespace drmpi {

namespace {

// printf into a string of at most one short line.
__attribute__((format(printf, 1, 2))) std::string formatted(const char* format, ...) {
    char line[256];
    std::va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    return line;
}

}  // namespace

std::string title_line(const char* title, bool in_file) {
    return formatted(" ** Pi Computation by %s %s\n", title, in_file ? "** " : "");
}

std::string size_line(int id, const RunSize& size) {
    return formatted("  ID=%d,  Pi Decimal=%" PRIu64 ",  FMT Size=%" PRId64 "\n", id,
                     size.digits, size.fmt_size);
}

std::string steps_line(int steps, int64_t fmt_size) {
    return formatted("  DRM Steps= %d,  FMT Size= %" PRId64 " \n", steps, fmt_size);
}

std::string step_line(int step, double seconds) {
    return formatted("  DRM Step=%3d,  Time=%8.2f (s)\n", step, seconds);
}

std::string total_line(double seconds, double error) {
    return formatted("  Total Time= %f (s)  Rounding Error= %e \n", seconds, error);
}

void report_result(double* pi, int word_count, int start_time, double max_error) {
    const std::string digits = pi_digits(pi, word_count);
    print_both(total_line((clock_ms() - start_time) / 1000.0, max_error));
    write_digit_lines(ResultFile, digits);
}

bool result_sound(const double* pi, double max_error) {
    return max_error <= ErrorLimit && pi[0] == 1.0 && pi[1] == 3.0;
}

}  // namespace drmpi

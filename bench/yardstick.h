// The command line and output of the pi yardsticks: NAME DIGITS FILE, with
// THREADS after it for those that take a thread count, writes "3.", the first
// DIGITS decimal digits of pi after the point and a newline.
#ifndef DRMPI_BENCH_YARDSTICK_H
#define DRMPI_BENCH_YARDSTICK_H

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// The whole decimal number in text when it lies in [1, max], else 0.
inline long yardstick_count(const char* text, long max) {
    char* end = nullptr;
    const long n = std::strtol(text, &end, 10);
    return *end == '\0' && n >= 1 && n <= max ? n : 0;
}

// DIGITS from argv, or 0 after a usage message when the arguments are not
// NAME DIGITS FILE with 1 <= DIGITS <= 10^max_power.  Where threads is given,
// a fourth argument THREADS from 1 to 1024 may follow, stored there (1 when
// absent).
inline long yardstick_digits(int argc, char** argv, int max_power = 8, long* threads = nullptr) {
    long max = 1;
    for (int i = 0; i < max_power; ++i) max *= 10;
    const bool counted = argc == 3 || (threads && argc == 4);
    const long digits = counted ? yardstick_count(argv[1], max) : 0;
    if (threads) *threads = argc == 4 ? yardstick_count(argv[3], 1024) : 1;
    if (digits == 0 || (threads && *threads == 0)) {
        std::fprintf(stderr, "usage: %s DIGITS FILE%s  (1 <= DIGITS <= 10^%d%s)\n", argv[0],
                     threads ? " [THREADS]" : "", max_power,
                     threads ? ", 1 <= THREADS <= 1024" : "");
        return 0;
    }
    return digits;
}

// Writes "3.", the digits of fraction and a newline to argv[2]; the exit
// status: 0, or 1 after a message when the file cannot be written whole.
inline int yardstick_write(char** argv, const char* fraction) {
    std::FILE* f = std::fopen(argv[2], "w");
    const bool ok = f && std::fputs("3.", f) >= 0 && std::fputs(fraction, f) >= 0 &&
                    std::fputc('\n', f) != EOF;
    if (!f || std::fclose(f) != 0 || !ok) {
        std::fprintf(stderr, "%s: cannot write %s: %s\n", argv[0], argv[2], std::strerror(errno));
        return 1;
    }
    return 0;
}

#endif

// The command line and output of the pi yardsticks: NAME DIGITS FILE writes
// "3.", the first DIGITS decimal digits of pi after the point and a newline.
#ifndef DRMPI_BENCH_YARDSTICK_H
#define DRMPI_BENCH_YARDSTICK_H

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// DIGITS from argv, or 0 after a usage message when the arguments are not
// NAME DIGITS FILE with 1 <= DIGITS <= 10^8.
inline long yardstick_digits(int argc, char** argv) {
    char* end = nullptr;
    const long digits = argc == 3 ? std::strtol(argv[1], &end, 10) : 0;
    if (argc != 3 || *end != '\0' || digits < 1 || digits > 100000000) {
        std::fprintf(stderr, "usage: %s DIGITS FILE  (1 <= DIGITS <= 10^8)\n", argv[0]);
        return 0;
    }
    return digits;
}

// Writes "3.", the digits of TEXT after its first one, and a newline to
// argv[2]; the exit status: 0, or 1 after a message when the file cannot be
// written whole.
inline int yardstick_write(char** argv, const char* text) {
    std::FILE* f = std::fopen(argv[2], "w");
    const bool ok = f && std::fprintf(f, "3.%s\n", text + 1) >= 0;
    if (!f || std::fclose(f) != 0 || !ok) {
        std::fprintf(stderr, "%s: cannot write %s: %s\n", argv[0], argv[2], std::strerror(errno));
        return 1;
    }
    return 0;
}

#endif

// The run set-up dialogue: series ID, output file, digit count, sizing and
// header lines.
#include <cctype>
#include <cstdarg>
#include <cerrno>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "driver/driver.h"
#include "mp/mp.h"

namespace drmpi {

FILE* ResultFile = nullptr;

namespace {

char ResultName[16];

enum class Token { Number, NotNumber, End };

// Reads one whitespace-separated token from standard input.  A token of an
// optional sign and decimal digits is a Number; *value receives it when it
// fits in 64 bits, and *too_long says that it does not.
Token read_token(int64_t* value, bool* too_long) {
    int c = std::getchar();
    while (c != EOF && std::isspace(c)) c = std::getchar();
    if (c == EOF) return Token::End;

    bool negative = false;
    if (c == '+' || c == '-') {
        negative = c == '-';
        c = std::getchar();
    }
    bool digits = false;
    bool other = false;
    bool overflow = false;
    int64_t v = 0;
    for (; c != EOF && !std::isspace(c); c = std::getchar()) {
        if (c < '0' || c > '9') {
            other = true;
            continue;
        }
        digits = true;
        const int d = c - '0';
        if (v > (INT64_MAX - d) / 10) overflow = true;
        if (!overflow) v = v * 10 + d;
    }
    if (!digits || other) return Token::NotNumber;
    *too_long = overflow;
    *value = negative ? -v : v;
    return Token::Number;
}

// Asks with the given prompt lines until a whole number is typed; ends the
// program when the input ends first.
int64_t ask_number(const char* line1, const char* line2, bool* too_long) {
    for (;;) {
        std::printf("%s \n", line1);
        if (line2 != nullptr) std::printf("%s \n", line2);
        int64_t v = 0;
        switch (read_token(&v, too_long)) {
            case Token::Number:
                return v;
            case Token::NotNumber:
                std::printf(" ** A whole decimal number is expected \n");
                break;
            case Token::End:
                std::printf(" ** Error Stop ** input ended before a number \n");
                std::exit(1);
        }
    }
}

void stop(const char* what) {
    std::printf(" ** Error Stop ** %s \n", what);
    std::exit(1);
}

}  // namespace

int setup_run(int family, int capacity, int* fmt_size, int* word_count,
              int* digits_per_word) {
    const int per_word = 5;
    Radix = int_pow(10, per_word);
    CarryMode = -1;
    if (family < 0 || family > 3) family = 0;
    const MethodFamily& m = MethodTable[family];

    bool too_long = false;
    int64_t typed = ask_number(m.id_prompt, m.menu, &too_long);
    const int id = (too_long || typed < 1 || typed > m.largest_id) ? 1 : static_cast<int>(typed);

    std::snprintf(ResultName, sizeof ResultName, "%s", m.file_template);
    ResultName[7] = static_cast<char>('0' + id);
    ResultFile = std::fopen(ResultName, "w");
    if (ResultFile == nullptr) {
        std::printf(" ** Error Stop ** cannot create %s: %s \n", ResultName,
                    std::strerror(errno));
        std::exit(1);
    }

    typed = ask_number(" Type In N (N=Number of Pi Decimal-Digits)", nullptr, &too_long);
    if (typed < 1) stop("N < 1");

    // The console's title line ends in a blank, the file's in " ** ".
    std::printf(" ** Pi Computation by %s \n", m.title);
    std::fprintf(ResultFile, " ** Pi Computation by %s ** \n", m.title);
    // A number beyond 64 bits is far beyond any capacity; no size of it can
    // be shown.
    if (too_long) stop("N > ND");

    // Sized in 64 bits, so that any N that fits shows its true rounding.
    const int64_t words = typed / per_word + (typed % per_word != 0);
    const uint64_t digits = static_cast<uint64_t>(words) * per_word;
    int64_t fmt = 1;
    while (fmt * 2 <= words) fmt *= 2;  // 2^ilog2(words)
    while (fmt - 4 < words) fmt *= 2;   // at least four words beyond the count
    print_both("  ID=%d,  Pi Decimal=%" PRIu64 ",  FMT Size=%" PRId64 "\n", id, digits, fmt);
    if (fmt > capacity) stop("N > ND");

    *fmt_size = static_cast<int>(fmt);
    *word_count = static_cast<int>(words);
    *digits_per_word = per_word;
    return id - 1;
}

void print_both(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    std::va_list again;
    va_copy(again, args);
    std::vprintf(format, args);
    std::vfprintf(ResultFile, format, again);
    va_end(again);
    va_end(args);
}

int finish_result_file() {
    if (std::fflush(ResultFile) != 0 || std::ferror(ResultFile)) {
        std::printf(" ** Error Stop ** cannot write %s: %s \n", ResultName,
                    std::strerror(errno));
        return 1;
    }
    return 0;
}

}  // namespace drmpi

// The run set-up dialogue: series ID, output file, digit count, sizing and
// header lines.
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "driver/report.h"
#include "driver/run.h"
#include "driver/setup.h"
#include "fft/fft.h"
#include "mp/mp.h"

namespace drmpi {

namespace {

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
int64_t ask_number(Console& console, const char* line1, const char* line2, bool* too_long) {
    for (;;) {
        console.print("%s \n", line1);
        if (line2 != nullptr) console.print("%s \n", line2);
        int64_t v = 0;
        switch (read_token(&v, too_long)) {
            case Token::Number:
                return v;
            case Token::NotNumber:
                console.print(" ** A whole decimal number is expected \n");
                break;
            case Token::End:
                console.print(" ** Error Stop ** input ended before a number \n");
                std::exit(1);
        }
    }
}

void stop(Console& console, const char* what) {
    console.print(" ** Error Stop ** %s \n", what);
    std::exit(1);
}

}  // namespace

RunSize size_run(int64_t n, bool threes) {
    RunSize s;
    s.word_count = n / DigitsPerWord + (n % DigitsPerWord != 0);
    s.digits = static_cast<uint64_t>(s.word_count) * DigitsPerWord;
    s.fmt_size = 1;
    while (s.fmt_size * 2 <= s.word_count) s.fmt_size *= 2;  // 2^ilog2(words)
    while (s.fmt_size - 4 < s.word_count) s.fmt_size *= 2;   // four words beyond the count
    // Three quarters of that, where it is a length of the transforms.
    const int64_t three = s.fmt_size / 4 * 3;
    if (threes && three - 4 >= s.word_count && three <= INT32_MAX &&
        fft_length(static_cast<int>(three)))
        s.fmt_size = three;
    return s;
}

std::string result_file_name(int series) {
    std::string name = Ramanujan.file_template;
    name[FileIdAt] = static_cast<char>('1' + series);
    return name;
}

RunSetup setup_run(Output& out) {
    Console& console = out.console;
    const Method& m = Ramanujan;
    bool too_long = false;
    int64_t typed = ask_number(console, m.id_prompt, m.menu, &too_long);
    const int id = (too_long || typed < 1 || typed > m.largest_id) ? 1 : static_cast<int>(typed);

    const std::string name = result_file_name(id - 1);
    if (const int e = out.file.open(name.c_str(), console); e != 0) {
        console.print(" ** Error Stop ** cannot create %s: %s \n", name.c_str(), std::strerror(e));
        std::exit(1);
    }

    typed = ask_number(console, " Type In N (N=Number of Pi Decimal-Digits)", nullptr, &too_long);
    if (typed < 1) stop(console, "N < 1");

    console.print("%s", title_line(m.title, false).c_str());
    // A number beyond 64 bits is far beyond any capacity; no size of it can
    // be shown.
    if (too_long) stop(console, "N > ND");

    // Sized in 64 bits, so that any N that fits shows its true rounding.
    const RunSetup run{id - 1, typed, size_run(typed), name};
    console.print("%s", size_line(id, run.size).c_str());
    if (run.size.fmt_size > ND) stop(console, "N > ND");
    return run;
}

}  // namespace drmpi

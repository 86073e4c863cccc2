// The command line: drmpi [options] DIGITS.  Parses the options, sizes the
// run against the memory there is, computes (and verifies), and writes the
// result file or standard output; reports go to standard error.
#include <getopt.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "driver/driver.h"
#include "driver/memory.h"
#include "mp/mp.h"

#ifndef DRMPI_VERSION
#define DRMPI_VERSION "unknown"
#endif

namespace drmpi {

namespace {

const char* const Usage = "Usage: drmpi [options] DIGITS  (drmpi --help for more)\n";

const char* const SeriesName[3] = {"Chudnovsky", "Fast-Ramanujan", "Free-Sqrt"};

// A usage error: the message and the usage line on standard error, status 2.
int usage_error(const std::string& message) {
    std::fprintf(stderr, "drmpi: %s\n%s", message.c_str(), Usage);
    return 2;
}

// "what, not 'text'", the form of most usage errors.
std::string not_this(const char* what, const char* text) {
    return std::string(what) + ", not '" + text + "'";
}

// A whole number of decimal digits with at most one suffix k, M or G (10^3,
// 10^6, 10^9); false when the text is anything else or the value exceeds 10^18.
bool parse_digits(const char* text, int64_t* value) {
    int64_t v = 0;
    const char* p = text;
    if (*p < '0' || *p > '9') return false;
    for (; *p >= '0' && *p <= '9'; ++p) {
        if (v > 100000000000000000) return false;
        v = v * 10 + (*p - '0');
    }
    int64_t scale = 1;
    if (*p == 'k') scale = 1000;
    if (*p == 'M') scale = 1000000;
    if (*p == 'G') scale = 1000000000;
    if (scale > 1) ++p;
    if (*p != '\0' || v > 1000000000000000000 / scale) return false;
    *value = v * scale;
    return true;
}

// A whole number from lo to hi, in decimal digits and nothing else.
bool parse_int(const char* text, int lo, int hi, int* value) {
    int64_t v = 0;
    const char* p = text;
    for (; *p >= '0' && *p <= '9' && v <= hi; ++p) v = v * 10 + (*p - '0');
    if (p == text || *p != '\0' || v < lo || v > hi) return false;
    *value = static_cast<int>(v);
    return true;
}

void print_help() {
    // The memory of a long run, per million digits at a size that fills its
    // power of two (runs take up to twice that).
    const int fmt = 1 << 24;
    const double per_million =
        static_cast<double>(run_memory(fmt, false, thread_count()).resident) /
        ((fmt - 4.0) * DigitsPerWord / 1e6) / (1 << 20);
    std::printf(
        "Usage: drmpi [options] DIGITS\n"
        "Computes DIGITS decimal digits of pi by a Ramanujan-type series and writes them\n"
        "to a file.  DIGITS is a whole number, optionally followed by k, M or G (thousands,\n"
        "millions, billions), e.g. 10M.  Without arguments drmpi asks for the series and\n"
        "the digits on the console.\n"
        "\n"
        "  -s, --series ID     1 Chudnovsky (the default), 2 Fast-Ramanujan, 3 Free-Sqrt\n"
        "  -o, --output FILE   the result file (default RamnDRM<ID>.txt); - for standard output\n"
        "  -f, --format FORM   layout (the default): the header and numbered lines of 80 digits;\n"
        "                      plain: \"3.\", exactly DIGITS digits (truncated) and a newline\n"
        "  -t, --threads N     the number of threads (default: every processor, or DRMPI_THREADS)\n"
        "      --verify        compute the digits again with another series and compare them\n"
        "                      all (series 1 is checked by series 2, series 2 and 3 by series 1)\n"
        "  -q, --quiet         no report and no progress on standard error\n"
        "  -h, --help          this text\n"
        "      --version       the version\n"
        "\n"
        "The report and the progress go to standard error.  A result file is replaced only by\n"
        "a complete, verified result.  Memory: about %.0f MB per million digits (the sizes go\n"
        "by powers of two, so a run may take up to twice that); a run that does not fit the\n"
        "memory available is refused before it starts.\n"
        "\n"
        "Exit status: 0 success; 1 a failed run (rounding error, write error, failed\n"
        "verification, not enough memory); 2 a usage error.\n",
        per_million);
}

// The options after the first parsing stage: 0 to run, or the exit status.
int parse(int argc, char** argv, Options* o, bool* done) {
    static const option Long[] = {
        {"series", required_argument, nullptr, 's'}, {"output", required_argument, nullptr, 'o'},
        {"format", required_argument, nullptr, 'f'}, {"threads", required_argument, nullptr, 't'},
        {"verify", no_argument, nullptr, 'v'},       {"quiet", no_argument, nullptr, 'q'},
        {"help", no_argument, nullptr, 'h'},         {"version", no_argument, nullptr, 'V'},
        {nullptr, 0, nullptr, 0}};
    *done = false;
    opterr = 0;
    optind = 1;
    for (int c; (c = getopt_long(argc, argv, ":s:o:f:t:qh", Long, nullptr)) != -1;) {
        switch (c) {
            case 's':
                if (!parse_int(optarg, 1, 3, &o->series))
                    return usage_error(not_this("the series must be 1, 2 or 3", optarg));
                o->series -= 1;
                break;
            case 'o':
                if (*optarg == '\0') return usage_error("the output file name is empty");
                o->output = optarg;
                break;
            case 'f':
                if (std::strcmp(optarg, "plain") != 0 && std::strcmp(optarg, "layout") != 0)
                    return usage_error(not_this("the format must be layout or plain", optarg));
                o->plain = std::strcmp(optarg, "plain") == 0;
                break;
            case 't':
                if (!parse_int(optarg, 1, 1024, &o->threads))
                    return usage_error(not_this("the thread count must be 1 to 1024", optarg));
                break;
            case 'v': o->verify = true; break;
            case 'q': o->quiet = true; break;
            case 'h':
                print_help();
                *done = true;
                return std::fflush(stdout) == 0 ? 0 : 1;
            case 'V':
                std::printf("drmpi %s\n", DRMPI_VERSION);
                *done = true;
                return std::fflush(stdout) == 0 ? 0 : 1;
            case ':':
                return usage_error(std::string("option '") + argv[optind - 1] + "' needs a value");
            default: return usage_error(std::string("unknown option '") + argv[optind - 1] + "'");
        }
    }
    if (optind == argc) return usage_error("DIGITS is missing");
    if (optind + 1 < argc)
        return usage_error(std::string("one DIGITS only, not also '") + argv[optind + 1] + "'");
    if (!parse_digits(argv[optind], &o->digits) || o->digits < 1)
        return usage_error(not_this(
            "DIGITS must be a whole number from 1 on, with k, M or G at most", argv[optind]));
    return 0;
}

// Megabytes, rounded up.
long long megabytes(int64_t bytes) { return static_cast<long long>((bytes + (1 << 20) - 1) >> 20); }

// Writes the result in its format to f; false when a write failed.
bool write_result(FILE* f, const Options& o, const RunSize& size, const PiResult& r) {
    if (o.plain) {
        write_plain(f, r.digits, o.digits);
    } else {
        for (const std::string& line :
             {title_line(MethodTable[3].title, true), size_line(o.series + 1, size),
              steps_line(r.steps, size.fmt_size), total_line(r.seconds, r.error)})
            std::fputs(line.c_str(), f);
        write_digit_lines(f, r.digits);
    }
    return std::ferror(f) == 0;
}

// The run after its result file is open (name "" for standard output); on
// any failure the file is discarded by run_command.
int compute_and_write(const Options& o, ComputePi compute, const RunSize& size,
                      const std::string& name) {
    const bool to_stdout = name.empty();
    Report report(o.quiet);
    PiResult first, second;
    try {
        first = compute(o.series, size, report);
        if (!first.sound) {
            report.line("%s", RoundingStop);
            return 1;
        }
        if (o.verify) {
            const int other = o.series == 0 ? 1 : 0;
            second = compute(other, size, report);
            if (!second.sound) {
                report.line("%s", RoundingStop);
                return 1;
            }
            const size_t count = static_cast<size_t>(o.digits);
            size_t at = 0;
            while (at < count && first.digits[at] == second.digits[at]) ++at;
            if (at < count) {
                std::fprintf(stderr,
                             "drmpi: verification failed: digit %zu after the point is %c with "
                             "series %d and %c with series %d\n",
                             at + 1, first.digits[at], o.series + 1, second.digits[at], other + 1);
                return 1;
            }
            std::fprintf(stderr, "verified: %" PRId64 " digits agree with series %d\n", o.digits,
                         other + 1);
        }
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "drmpi: not enough memory for %" PRId64 " digits\n", o.digits);
        return 1;
    }

    if (to_stdout) {
        if (!write_result(stdout, o, size, first) || std::fflush(stdout) != 0) {
            std::fprintf(stderr, "drmpi: cannot write standard output: %s\n",
                         std::strerror(errno));
            return 1;
        }
        return 0;
    }
    write_result(ResultFile, o, size, first);
    if (const int e = result_file_commit(); e != 0) {
        std::fprintf(stderr, "drmpi: cannot write %s: %s\n", name.c_str(), std::strerror(e));
        return 1;
    }
    return 0;
}

}  // namespace

int run_command_line(int argc, char** argv) {
    Options o;
    bool done = false;
    if (const int status = parse(argc, argv, &o, &done); status != 0 || done) return status;
    return run_command(o, compute_digits);
}

int run_command(const Options& o, ComputePi compute) {
    const RunSize size = size_run(o.digits);
    if (size.fmt_size > MaxFmtSize) {
        std::fprintf(stderr, "drmpi: %" PRId64 " digits are beyond the largest run, %" PRId64
                     " digits\n", o.digits, static_cast<int64_t>(MaxFmtSize - 4) * DigitsPerWord);
        return 1;
    }
    if (o.threads > 0) set_thread_count(o.threads);
    const int fmt = static_cast<int>(size.fmt_size);
    const RunMemory need = run_memory(fmt, o.verify, thread_count());
    const MemoryLimit have = memory_available(need);
    if (!have.fits(need)) {
        const int fits = largest_fitting_run(fmt / 2, o.verify, thread_count());
        std::fprintf(stderr,
                     "drmpi: %" PRId64 " digits need about %lld MB of memory, and %lld MB are "
                     "available (%s): at most %" PRId64 " digits fit\n",
                     o.digits, megabytes(have.need(need)), megabytes(have.bytes), have.name,
                     fits == 0 ? int64_t{0} : int64_t{fits - 4} * DigitsPerWord);
        return 1;
    }

    const bool to_stdout = o.output == "-";
    std::string name = o.output;
    if (name.empty()) {  // the dialogue's file of the series
        name = MethodTable[3].file_template;
        name[7] = static_cast<char>('1' + o.series);
    }
    if (!to_stdout) {
        if (const int e = result_file_open(name.c_str()); e != 0) {
            std::fprintf(stderr, "drmpi: cannot create %s: %s\n", name.c_str(), std::strerror(e));
            return 1;
        }
    }
    const int status = compute_and_write(o, compute, size, to_stdout ? "" : name);
    if (status != 0 && !to_stdout) result_file_discard();
    return status;
}

}  // namespace drmpi

// The command line: drmpi [options] DIGITS.  Parses the options, sizes the
// run against the memory there is, computes (and verifies), and writes the
// result file or standard output; reports go to standard error.
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "driver/cli.h"
#include "driver/memory.h"
#include "mp/mp.h"
#include "mp/parallel.h"

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

// The largest digit count of a run: the words of the longest transform but
// the four that a run leaves spare.
constexpr int64_t MaxDigits = static_cast<int64_t>(MaxFmtSize - 4) * DigitsPerWord;

enum class Digits { Ok, Bad, Huge };

// A whole number of decimal digits with at most one suffix k, M or G (10^3,
// 10^6, 10^9): Ok with *value, Huge when it exceeds 10^18, Bad when the text
// is anything else.
Digits parse_digits(const char* text, int64_t* value) {
    constexpr int64_t Cap = 1000000000000000000;
    int64_t v = 0;
    bool huge = false;
    const char* p = text;
    if (*p < '0' || *p > '9') return Digits::Bad;
    for (; *p >= '0' && *p <= '9'; ++p) {
        huge = huge || v > (Cap - (*p - '0')) / 10;
        if (!huge) v = v * 10 + (*p - '0');
    }
    int64_t scale = 1;
    if (*p == 'k') scale = 1000;
    if (*p == 'M') scale = 1000000;
    if (*p == 'G') scale = 1000000000;
    if (scale > 1) ++p;
    if (*p != '\0') return Digits::Bad;
    if (huge || v > Cap / scale) return Digits::Huge;
    *value = v * scale;
    return Digits::Ok;
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

void print_help(Console& console) {
    // The memory of a long run, per million digits at a size that fills its
    // power of two (runs take up to twice that).
    const int fmt = 1 << 24;
    const double per_million =
        static_cast<double>(run_memory(fmt, false, thread_count()).resident) /
        ((fmt - 4.0) * DigitsPerWord / 1e6) / (1 << 20);
    console.print(
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
        "  -t, --threads N     the number of threads (default: every processor, or\n"
        "                      DRMPI_THREADS; %d here)\n"
        "      --verify        compute the digits again with another series and compare them\n"
        "                      all (series 1 is checked by series 2, series 2 and 3 by series 1)\n"
        "  -q, --quiet         no report, progress or \"verified\" line on standard error;\n"
        "                      the reason of a failure is always given\n"
        "  -h, --help          this text\n"
        "      --version       the version\n"
        "\n"
        "The report and the progress go to standard error.  A result file is replaced only by\n"
        "a complete result that passed the rounding check (and, with --verify, the second\n"
        "series).  Memory: about %.0f MB per million digits (the sizes go by powers of two\n"
        "and three times those, so a run may take up to half as much again); a run that does\n"
        "not fit the memory available is refused before it starts.\n"
        "\n"
        "Exit status: 0 success; 1 a failed run (rounding error, write error, failed\n"
        "verification, not enough memory); 2 a usage error.\n",
        thread_count(), per_million);
}

// An option: the key that take() knows it by, which is its short form too
// where it has one, its long name, and whether it takes a value.
struct OptionDef {
    char key;
    bool has_short;
    const char* name;
    bool takes_value;
};

const OptionDef OptionDefs[] = {
    {'s', true, "series", true},    {'o', true, "output", true}, {'f', true, "format", true},
    {'t', true, "threads", true},   {'v', false, "verify", false}, {'q', true, "quiet", false},
    {'h', true, "help", false},     {'V', false, "version", false},
};

// The option of a long name, which may be cut to any prefix that names one
// option only; nullptr with the message in *error otherwise.
const OptionDef* long_option(const std::string& name, std::string* error) {
    std::vector<const OptionDef*> matches;
    for (const OptionDef& s : OptionDefs) {
        if (name == s.name) return &s;
        if (!name.empty() && std::string_view(s.name).starts_with(name)) matches.push_back(&s);
    }
    if (matches.size() == 1) return matches[0];
    if (matches.empty()) {
        *error = "unknown option '--" + name + "'";
    } else {
        *error = "option '--" + name + "' is ambiguous:";
        for (const OptionDef* m : matches) *error += std::string(" --") + m->name;
    }
    return nullptr;
}

// What the command line asks for besides a run.
enum class Answer { Run, Help, Version };

// Takes one option into o; "" or the message of a usage error.  --help and
// --version set *answer.
std::string take(const OptionDef& def, const char* value, Options* o, Answer* answer) {
    switch (def.key) {
        case 's':
            if (!parse_int(value, 1, 3, &o->series))
                return not_this("the series must be 1, 2 or 3", value);
            o->series -= 1;
            break;
        case 'o':
            if (*value == '\0') return "the output file name is empty";
            o->output = value;
            break;
        case 'f':
            if (std::strcmp(value, "plain") != 0 && std::strcmp(value, "layout") != 0)
                return not_this("the format must be layout or plain", value);
            o->plain = std::strcmp(value, "plain") == 0;
            break;
        case 't':
            if (!parse_int(value, 1, MaxThreads, &o->threads))
                return not_this("the thread count must be 1 to 1024", value);
            break;
        case 'v': o->verify = true; break;
        case 'q': o->quiet = true; break;
        case 'h': *answer = Answer::Help; break;
        case 'V': *answer = Answer::Version; break;
    }
    return "";
}

// Parses the arguments into o: short options, alone or grouped (-qs2), long
// ones or any unique prefix of them, each with its value attached (-s2,
// --series=2) or as the next argument, and DIGITS, before, between or after
// them; "--" ends the options.  Returns 0, or the exit status after the
// message; at --help or --version it stops with *answer set.
int parse(int argc, char** argv, Options* o, Answer* answer) {
    *answer = Answer::Run;
    const char* digits = nullptr;
    bool options = true;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        std::string error;
        if (options && std::strcmp(arg, "--") == 0) {
            options = false;
        } else if (options && arg[0] == '-' && arg[1] == '-') {
            const char* eq = std::strchr(arg, '=');
            const std::string name(arg + 2, eq != nullptr ? eq : arg + std::strlen(arg));
            const OptionDef* def = long_option(name, &error);
            if (def == nullptr) return usage_error(error);
            const std::string shown = std::string("option '--") + def->name + "'";
            const char* value = eq != nullptr ? eq + 1 : nullptr;
            if (!def->takes_value && value != nullptr) return usage_error(shown + " takes no value");
            if (def->takes_value && value == nullptr) {
                if (i + 1 == argc) return usage_error(shown + " needs a value");
                value = argv[++i];
            }
            error = take(*def, value, o, answer);
        } else if (options && arg[0] == '-' && arg[1] != '\0') {
            for (const char* p = arg + 1; *p != '\0' && error.empty() && *answer == Answer::Run;
                 ++p) {
                const OptionDef* def = nullptr;
                for (const OptionDef& s : OptionDefs)
                    if (s.has_short && s.key == *p) def = &s;
                if (def == nullptr) return usage_error(std::string("unknown option '-") + *p + "'");
                if (!def->takes_value) {
                    error = take(*def, nullptr, o, answer);
                    continue;
                }
                const char* value = p[1] != '\0' ? p + 1 : i + 1 < argc ? argv[++i] : nullptr;
                if (value == nullptr)
                    return usage_error(std::string("option '-") + *p + "' needs a value");
                error = take(*def, value, o, answer);
                break;
            }
        } else if (digits == nullptr) {
            digits = arg;
        } else {
            return usage_error(std::string("one DIGITS only, not also '") + arg + "'");
        }
        if (!error.empty()) return usage_error(error);
        if (*answer != Answer::Run) return 0;
    }
    if (digits == nullptr) return usage_error("DIGITS is missing");
    const Digits d = parse_digits(digits, &o->digits);
    if (d == Digits::Bad || (d == Digits::Ok && o->digits < 1))
        return usage_error(
            not_this("DIGITS must be a whole number from 1 on, with k, M or G at most", digits));
    if (d == Digits::Huge || o->digits > MaxDigits) {
        const std::string shown = d == Digits::Huge ? digits : std::to_string(o->digits);
        std::fprintf(stderr, "drmpi: %s digits are beyond the largest run, %" PRId64 " digits\n",
                     shown.c_str(), MaxDigits);
        return 1;
    }
    return 0;
}

// Megabytes, rounded up.
long long megabytes(int64_t bytes) { return static_cast<long long>((bytes + (1 << 20) - 1) >> 20); }

}  // namespace

void threads_from_environment() {
    const char* s = std::getenv("DRMPI_THREADS");
    if (s == nullptr) return;
    int threads = 0;
    if (parse_int(s, 1, MaxThreads, &threads)) {
        set_thread_count(threads);
        return;
    }
    std::fprintf(stderr,
                 "drmpi: warning: DRMPI_THREADS='%s' is not a thread count from 1 to %d; "
                 "using %d threads\n",
                 s, MaxThreads, thread_count());
}

int run_command_line(Output& out, int argc, char** argv) {
    Options o;
    Answer answer;
    if (const int status = parse(argc, argv, &o, &answer); status != 0) return status;
    if (answer == Answer::Help) print_help(out.console);
    if (answer == Answer::Version) out.console.print("drmpi %s\n", DRMPI_VERSION);
    if (answer != Answer::Run) return out.console.finish();
    return run_command(out, o, compute_digits);
}

int run_command(Output& out, const Options& o, ComputePi compute) {
    if (o.threads > 0) set_thread_count(o.threads);
    const RunSize size = size_run(o.digits, true);
    const int fmt = static_cast<int>(size.fmt_size);
    const RunMemory need = run_memory(fmt, o.verify, thread_count());
    const MemoryLimit have = memory_available(need);
    if (!have.fits(need)) {
        const int fits = largest_fitting_run(fmt, o.verify, thread_count());
        std::fprintf(stderr,
                     "drmpi: %" PRId64 " digits need about %lld MB of memory, and %lld MB are "
                     "available (%s): at most %" PRId64 " digits fit\n",
                     o.digits, megabytes(have.need(need)), megabytes(have.bytes), have.name,
                     fits == 0 ? int64_t{0} : int64_t{fits - 4} * DigitsPerWord);
        return 1;
    }

    // Standard output is the result file through descriptor 1.
    const bool to_stdout = o.output == "-";
    std::string name = to_stdout ? "/dev/stdout" : o.output;
    if (name.empty()) name = result_file_name(o.series);
    const std::string shown = to_stdout ? "standard output" : name;
    if (const int e = out.file.open(name.c_str(), out.console); e != 0) {
        std::fprintf(stderr, "drmpi: cannot %s %s: %s\n", to_stdout ? "write" : "create",
                     shown.c_str(), std::strerror(e));
        return 1;
    }
    return compute_and_write(out, o, size, compute,
                             o.quiet ? ReportTo::Nowhere : ReportTo::Errors, shown);
}

}  // namespace drmpi

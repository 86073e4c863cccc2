// The command line through the real binary: options and their errors, exit
// statuses, both formats against the reference, standard output, runs past
// the dialogue's capacity, verification, and the memory refusal.
#include <gtest/gtest.h>

#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include "driver/cli.h"
#include "driver/memory.h"
#include "mp/mp.h"
#include "mp/parallel.h"
#include "support/program.h"

namespace drmpi_test {
namespace {

const std::string Usage = "Usage: drmpi [options] DIGITS  (drmpi --help for more)\n";

// The plain form of the first count digits.
std::string plain(int64_t count) { return "3." + pi_reference(count) + "\n"; }

TEST(CommandLine, UsageErrorsStopWithStatus2AndWriteNothing) {
    const auto digits = [](const std::string& d) {
        return "DIGITS must be a whole number from 1 on, with k, M or G at most, not '" + d + "'";
    };
    const std::string series = "the series must be 1, 2 or 3, not '",
                      threads = "the thread count must be 1 to 1024, not '";
    const struct { std::string args, message; } cases[] = {
        {"-q", "DIGITS is missing"},
        {"-x 10", "unknown option '-x'"},            {"-xq 10", "unknown option '-x'"},
        {"-s 2 -qx 10", "unknown option '-x'"},      {"--bogus=1 10", "unknown option '--bogus'"},
        {"--ver 10", "option '--ver' is ambiguous: --verify --version"},
        {"--verify=yes 10", "option '--verify' takes no value"},
        {"10 --series", "option '--series' needs a value"},
        {"10 -s", "option '-s' needs a value"},
        {"abc", digits("abc")},   {"0", digits("0")},       {"-- -5", digits("-5")},
        {"1.5M", digits("1.5M")}, {"10X", digits("10X")},   {"10kk", digits("10kk")},
        {"10 20", "one DIGITS only, not also '20'"},
        {"-s 4 10", series + "4'"},  {"--series=0 10", series + "0'"},  {"-s x 10", series + "x'"},
        {"-f pretty 10", "the format must be layout or plain, not 'pretty'"},
        {"-t 0 10", threads + "0'"},  {"--threads 2x 10", threads + "2x'"},
        {"-o '' 10", "the output file name is empty"},
    };
    for (const auto& c : cases) {
        const Outcome r = run(c.args, "", "RamnDRM1.txt");
        EXPECT_EQ(r.status, 2) << c.args;
        EXPECT_EQ(r.errors, "drmpi: " + c.message + "\n" + Usage) << c.args;
        EXPECT_EQ(r.console, "") << c.args;
        EXPECT_TRUE(r.entries.empty()) << c.args;
    }
}

// Help and version, the help with the thread count that DRMPI_THREADS sets;
// a value that is no thread count is named in a warning and the default
// stays.
TEST(CommandLine, HelpVersionAndThreadCount) {
    const std::string usual = std::to_string(drmpi::thread_count());
    const struct { std::string args, threads; } cases[] = {
        {"-h", "3"}, {"--help", "3"}, {"--he 10", "3"}, {"-s 2 --help", "3"}, {"--help", "abc"},
        {"--help", "0"}, {"--help", "-1"}, {"--help", "99999"}, {"--help", "2x"}, {"--help", ""}};
    for (const auto& c : cases) {
        const Outcome r = run(c.args, "", "", "export DRMPI_THREADS='" + c.threads + "'");
        const bool good = c.threads == "3";
        EXPECT_EQ(r.status, 0) << c.args;
        EXPECT_EQ(r.console.rfind("Usage: drmpi [options] DIGITS\n", 0), 0u) << c.args;
        EXPECT_TRUE(std::regex_search(r.console, std::regex("about [0-9]+ MB per million digits")))
            << r.console;
        EXPECT_NE(r.console.find("DRMPI_THREADS; " + (good ? c.threads : usual) + " here"),
                  std::string::npos) << r.console;
        EXPECT_EQ(r.errors, good ? "" : "drmpi: warning: DRMPI_THREADS='" + c.threads +
                                            "' is not a thread count from 1 to 1024; using " +
                                            usual + " threads\n");
    }
    const Outcome v = run("--version", "", "");
    EXPECT_EQ(v.status, 0);
    EXPECT_TRUE(std::regex_match(v.console, std::regex("drmpi [0-9]+\\.[0-9]+\\.[0-9]+\n")));
}

// The report on standard error, in the dialogue's formats; nothing on
// standard output.
TEST(CommandLine, ReportGoesToStandardErrorOrNowhere) {
    const Outcome r = run("-s 2 1000", "", "RamnDRM2.txt");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.console, "");
    EXPECT_TRUE(std::regex_match(r.errors, std::regex(
        " \\*\\* Pi Computation by DRM with Ramanujan \n"
        "  ID=2,  Pi Decimal=1000,  FMT Size=256\n"
        "  DRM Steps= 4,  FMT Size= 256 \n"
        "(  DRM Step=  [1-4],  Time= +[0-9]+\\.[0-9]{2} \\(s\\)\n){4}"
        "  Total Time= [0-9]+\\.[0-9]{6} \\(s\\)  "
        "Rounding Error= [0-9]\\.[0-9]{6}e[-+][0-9]{2} \n")))
        << r.errors;
    EXPECT_EQ(file_digits(r.file), pi_reference(1000));
    // The dialogue reports the same run with the same rounding error.
    const Outcome d = run("", "2 1000\n", "RamnDRM2.txt");
    EXPECT_EQ(reported_error(d.console), reported_error(r.errors));
}

// The layout is the dialogue's file; plain holds exactly the digits asked
// for, truncated, also where the word count is odd or N not a multiple of 5.
// Quiet, nothing else is written.
TEST(CommandLine, LayoutAndPlainAgainstTheReference) {
    for (const int64_t n : {1, 7, 80, 85, 1000, 12345, 100000}) {
        for (int series = 1; series <= 3; ++series) {
            const std::string s = std::to_string(series), digits = std::to_string(n);
            const Outcome p = run("-q -f layout -s " + s + " --format=plain -o pi.txt " + digits,
                                  "", "pi.txt");
            EXPECT_EQ(p.status, 0) << n;
            EXPECT_EQ(p.console + p.errors, "") << n;
            EXPECT_EQ(p.file, plain(n)) << "series " << series << " N " << n;
            // The last -f counts.
            const Outcome l = run("-q -f plain -s " + s + " -flayout " + digits, "",
                                  "RamnDRM" + s + ".txt");
            const int64_t words = (n + 4) / 5;
            EXPECT_EQ(file_digits(l.file), pi_reference(5 * (words + words % 2))) << n;
            EXPECT_EQ(l.file.rfind(" ** Pi Computation by DRM with Ramanujan ** \n  ID=" + s +
                                   ",  Pi Decimal=" + std::to_string(5 * words) + ",", 0), 0u);
        }
    }
}

// Standard output, and the names of descriptors, which are written through
// the descriptor in place: into a pipe, or appended to a file behind it,
// never renamed over what it names.  A name too long for the temporary name
// beside it still gets its result.
TEST(CommandLine, StandardOutputDescriptorsAndLongNames) {
    const Outcome l = run("-o - 100", "", "");
    EXPECT_EQ(l.status, 0);
    EXPECT_EQ(file_digits(l.console), pi_reference(100));
    EXPECT_NE(l.errors.find("Total Time"), std::string::npos);
    const std::string name(250, 'a');
    // The name given, the file read, the text before the result in it and
    // the folder's one entry afterwards, if any.
    const struct { std::string out, file, setup, redirect, before, entry; } cases[] = {
        {"-", "", "", "", "", ""},
        {"/dev/stdout", "out", "", "2> errors | cat > out", "", "out"},
        {"/proc/self/fd/1", "log", "echo before > log", ">> log 2> errors", "before\n", "log"},
        {"link", "", "ln -s /dev/stderr link", "", "", "link"},  // the result on standard error
        {name, name, "", "", "", name},
    };
    for (const auto& c : cases) {
        const Outcome r = run("-q -f plain -o " + c.out + " 5k", "", c.file, c.setup, c.redirect);
        EXPECT_EQ(r.status, 0) << c.out;
        EXPECT_EQ(r.console + r.file + r.errors, c.before + plain(5000)) << c.out;
        EXPECT_EQ(r.entries, c.entry.empty() ? std::vector<std::string>{}
                                             : std::vector<std::string>{c.entry});
    }
}

// On a terminal a progress line follows every report line: its share of the
// work grows with each step, counts the final root and division as a phase
// of its own, and counts the verifying computation (of series 1, for series
// 3), so that it is below 100 % until the very end.
TEST(CommandLine, ProgressCountsEveryPhase) {
    const Outcome r = run("-qec \"'$drmpi' --verify -s 3 -f plain -o pi.txt 300k\" /dev/null",
                          "", "pi.txt", "", "", "script");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.file, plain(300000));
    EXPECT_NE(r.console.find("verified: 300000 digits agree with series 1"), std::string::npos);
    const std::regex progress("[\r\n]  (check, )?(step ([0-9]+) of ([0-9]+)|final root and "
                              "division),  *([0-9]+) % done, [0-9]+ s(, about [0-9]+ s left)?"
                              "\033\\[K(?=[\r\n]|$)");
    std::vector<std::string> phases;  // each phase once, in order
    int share = 0;
    for (std::sregex_iterator m(r.console.begin(), r.console.end(), progress), end; m != end;
         ++m) {
        EXPECT_GE(std::stoi((*m)[5]), share) << m->str();
        share = std::stoi((*m)[5]);
        const std::string phase = (*m)[1].str() + (*m)[2].str();
        if (phases.empty() || phases.back() != phase) phases.push_back(phase);
    }
    EXPECT_LT(share, 100);
    const std::vector<std::string> expected = {
        "step 1 of 7", "step 2 of 7", "step 3 of 7", "step 4 of 7", "step 5 of 7", "step 6 of 7",
        "step 7 of 7", "final root and division", "check, step 1 of 3", "check, step 2 of 3",
        "check, step 3 of 3", "check, final root and division"};
    EXPECT_EQ(phases, expected) << r.console;
}

// Each series is verified by its partner (series 3 in ProgressCountsEveryPhase);
// quiet, a verified run is silent.
TEST(CommandLine, VerifiedRunsAgree) {
    const Outcome r = run("-q --verify -f plain 100k", "", "RamnDRM1.txt");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.errors, "");
    EXPECT_EQ(r.file, plain(100000));
    const Outcome o = run("--verif -s 2 -f plain 3000", "", "RamnDRM2.txt");
    EXPECT_TRUE(o.errors.ends_with("verified: 3000 digits agree with series 1\n")) << o.errors;
    EXPECT_EQ(o.file, plain(3000));
}

// A run beyond the machine is refused before it starts, with what it needs,
// what there is, the limit that binds and what would fit: the request sized
// from the machine's own limit, a quarter beyond it, so that memory freed
// meanwhile does not let it start.  Beyond the longest transform too.
TEST(CommandLine, RunsBeyondTheMachineAreRefused) {
    int fmt = 8;
    drmpi::MemoryLimit have;
    for (; fmt <= drmpi::MaxFmtSize; fmt *= 2) {
        const drmpi::RunMemory m = drmpi::run_memory(fmt, false, drmpi::thread_count());
        have = drmpi::memory_available(m);
        if (have.name != nullptr && have.need(m) > have.bytes + have.bytes / 4) break;
    }
    if (fmt <= drmpi::MaxFmtSize) {
        const std::string digits = std::to_string(int64_t{fmt - 4} * drmpi::DigitsPerWord);
        const Outcome r = run(digits, "", "RamnDRM1.txt");
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(std::regex_match(r.errors, std::regex(
            "drmpi: " + digits + " digits need about [0-9]+ MB of memory, and [0-9]+ MB are "
            "available \\(" + have.name + "\\): at most [0-9]+ digits fit\n"))) << r.errors;
        EXPECT_TRUE(r.entries.empty());
    }
    for (const std::string big : {"2G", "1000000000000000000", "99999999999999999999"}) {
        const Outcome b = run(big, "", "RamnDRM1.txt");
        EXPECT_EQ(b.status, 1);
        EXPECT_EQ(b.errors, "drmpi: " + (big == "2G" ? "2000000000" : big) +
                                " digits are beyond the largest run, 1006632940 digits\n");
    }
    if (fmt > drmpi::MaxFmtSize) GTEST_SKIP() << "no run needs a quarter more than this machine has";
}

// Output that cannot be written fails the run with the reason: a full
// device, a file-size limit, standard output closed or full, a missing
// folder; the help and the version too.
TEST(CommandLine, WriteErrorsFailTheRun) {
    const std::string to = "cannot write standard output: ", stdout_10k = "-q -f plain -o - 10k";
    const struct { std::string args, setup, redirect, message; int e; } cases[] = {
        {"-q -o /dev/full 1000", "", "", "cannot write /dev/full: ", ENOSPC},
        {stdout_10k, "", "> /dev/full 2> errors", to, ENOSPC},
        {stdout_10k, "ulimit -f 1", "", to, EFBIG},
        {stdout_10k, "", ">&- 2> errors", to, EBADF},
        {"-q -o sub/pi.txt 1000", "", "", "cannot create sub/pi.txt: ", ENOENT},
        {"--help", "", "> /dev/full 2> errors", "cannot write to standard output: ", ENOSPC},
        {"--version", "", "> /dev/full 2> errors", "cannot write to standard output: ", ENOSPC},
    };
    for (const auto& c : cases) {
        const Outcome o = run(c.args, "", "", c.setup, c.redirect);
        EXPECT_EQ(o.status, 1) << c.args << " " << c.redirect;
        EXPECT_EQ(o.errors, "drmpi: " + c.message + std::strerror(c.e) + "\n") << c.args;
    }
}

// The same file and the same rounding error on 1, 2 and 3 threads, with
// every digit against MPFR: the pairs of the merges, the products of a pair,
// the transforms of Newton steps and the passes of long transforms spread
// differently over them.  Past the dialogue's capacity (FMT size 2^19) the
// products of whole words go beyond 2^18, and long transforms share their
// passes; at 1,400,000 digits the FMT size is 3 * 2^17.
TEST(CommandLine, SameResultOnEveryThreadCount) {
    const struct { std::string series, digits, fmt; } runs[] = {
        {"1", "1310700", "262144"}, {"1", "2000000", "524288"}, {"3", "1400000", "393216"}};
    for (const auto& c : runs) {
        std::string first;
        for (const std::string threads : {"1", "2", "3"}) {
            const Outcome r = run("-s " + c.series + " -t " + threads + " " + c.digits, "",
                                  "RamnDRM" + c.series + ".txt");
            EXPECT_EQ(r.status, 0) << threads << " threads";
            // The file without its time, which varies.
            const std::string file = std::regex_replace(r.file, std::regex("Time= [0-9.]+"), "");
            EXPECT_NE(file.find("FMT Size=" + c.fmt + "\n"), std::string::npos);
            EXPECT_TRUE(file_digits(file) == pi_reference(std::stoll(c.digits))) << c.digits;
            if (first.empty()) first = file;
            EXPECT_TRUE(file == first) << c.digits << " digits, " << threads << " threads";
        }
    }
}

// Long runs, left out of the default test command and run in CI: ten million
// digits of series 1, verified by series 2, against MPFR.
TEST(LongCommandLine, TenMillionDigitsVerified) {
    const Outcome r = run("--verify -f plain -o pi.txt 10M", "", "pi.txt");
    EXPECT_EQ(r.status, 0) << r.errors;
    EXPECT_NE(r.errors.find("verified: 10000000 digits agree with series 2"), std::string::npos);
    EXPECT_TRUE(r.file == plain(10000000)) << "the 10,000,000 digits differ from MPFR's";
}

// A hundred million digits of series 1, whose products reach 2^25 words,
// against the sha256 of Arb's digits: the file's length, and the hash of the
// digits after "3.", which the shell takes once drmpi has succeeded.
TEST(LongCommandLine, HundredMillionDigitsAgainstArb) {
    const std::string want = test_data("pi-digits-1e8.sha256").substr(0, 64);
    const Outcome r = run("-f plain -o pi.txt 100M", "", "hash", "",
                          "> console 2> errors && wc -c < pi.txt > hash && "
                          "cut -c3- pi.txt | head -c 100000000 | sha256sum >> hash");
    EXPECT_EQ(r.status, 0) << r.errors;
    EXPECT_EQ(r.file, "100000003\n" + want + "  -\n");
}

}  // namespace
}  // namespace drmpi_test

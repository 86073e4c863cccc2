// The command line through the real binary: options and their errors, exit
// statuses, both formats against the reference, standard output, runs past
// the dialogue's capacity, verification, and the memory refusal.  The failed
// verification is made in-process, through run_command with a faulty
// computation.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include "driver/driver.h"
#include "driver/memory.h"
#include "support/program.h"

namespace drmpi_test {
namespace {

const std::string Usage = "Usage: drmpi [options] DIGITS  (drmpi --help for more)\n";

// The plain form of the first count digits.
std::string plain(int64_t count) { return "3." + pi_reference(count) + "\n"; }

TEST(CommandLine, UsageErrorsStopWithStatus2AndWriteNothing) {
    const struct { std::string args, message; } cases[] = {
        {"-q", "DIGITS is missing"},
        {"-x 10", "unknown option '-x'"},
        {"--bogus 10", "unknown option '--bogus'"},
        {"abc", "DIGITS must be a whole number from 1 on, with k, M or G at most, not 'abc'"},
        {"0", "DIGITS must be a whole number from 1 on, with k, M or G at most, not '0'"},
        {"-- -5", "DIGITS must be a whole number from 1 on, with k, M or G at most, not '-5'"},
        {"1.5M", "DIGITS must be a whole number from 1 on, with k, M or G at most, not '1.5M'"},
        {"10X", "DIGITS must be a whole number from 1 on, with k, M or G at most, not '10X'"},
        {"10kk", "DIGITS must be a whole number from 1 on, with k, M or G at most, not '10kk'"},
        {"99999999999999999999", "DIGITS must be a whole number from 1 on, with k, M or G at "
                                 "most, not '99999999999999999999'"},
        {"10 20", "one DIGITS only, not also '20'"},
        {"-s 4 10", "the series must be 1, 2 or 3, not '4'"},
        {"--series=0 10", "the series must be 1, 2 or 3, not '0'"},
        {"-s x 10", "the series must be 1, 2 or 3, not 'x'"},
        {"-f pretty 10", "the format must be layout or plain, not 'pretty'"},
        {"-t 0 10", "the thread count must be 1 to 1024, not '0'"},
        {"--threads 2x 10", "the thread count must be 1 to 1024, not '2x'"},
        {"10 -s", "option '-s' needs a value"},
        {"-o '' 10", "the output file name is empty"},
    };
    for (const auto& c : cases) {
        const Outcome r = run_args(c.args, "RamnDRM1.txt");
        EXPECT_EQ(r.status, 2) << c.args;
        EXPECT_EQ(r.errors, "drmpi: " + c.message + "\n" + Usage) << c.args;
        EXPECT_EQ(r.console, "") << c.args;
        EXPECT_TRUE(r.entries.empty()) << c.args;
    }
}

TEST(CommandLine, HelpAndVersion) {
    for (const std::string args : {"-h", "--help", "--help 10", "-s 2 --help"}) {
        const Outcome r = run_args(args, "");
        EXPECT_EQ(r.status, 0) << args;
        EXPECT_EQ(r.console.rfind("Usage: drmpi [options] DIGITS\n", 0), 0u) << args;
        EXPECT_TRUE(std::regex_search(r.console, std::regex("about [0-9]+ MB per million digits")))
            << r.console;
        EXPECT_EQ(r.errors, "") << args;
    }
    const Outcome v = run_args("--version", "");
    EXPECT_EQ(v.status, 0);
    EXPECT_TRUE(std::regex_match(v.console, std::regex("drmpi [0-9]+\\.[0-9]+\\.[0-9]+\n")));
}

// The report on standard error, in the dialogue's formats; nothing on
// standard output; quiet, nothing at all.
TEST(CommandLine, ReportGoesToStandardErrorOrNowhere) {
    const Outcome r = run_args("-s 2 1000", "RamnDRM2.txt");
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
    const Outcome q = run_args("-q -s 3 1000", "RamnDRM3.txt");
    EXPECT_EQ(q.status, 0);
    EXPECT_EQ(q.errors, "");
    EXPECT_EQ(file_digits(q.file), pi_reference(1000));
}

// The layout is the dialogue's file; plain holds exactly the digits asked
// for, truncated, also where the word count is odd or N not a multiple of 5.
TEST(CommandLine, LayoutAndPlainAgainstTheReference) {
    for (const int64_t n : {1, 7, 80, 85, 1000, 12345, 100000}) {
        for (int series = 1; series <= 3; ++series) {
            const std::string s = std::to_string(series), digits = std::to_string(n);
            const Outcome p = run_args("-q -f plain -s " + s + " -o pi.txt " + digits, "pi.txt");
            EXPECT_EQ(p.status, 0) << n;
            EXPECT_EQ(p.file, plain(n)) << "series " << series << " N " << n;
            const Outcome l = run_args("-q -s " + s + " " + digits, "RamnDRM" + s + ".txt");
            const int64_t words = (n + 4) / 5;
            EXPECT_EQ(file_digits(l.file), pi_reference(5 * (words + words % 2))) << n;
            EXPECT_EQ(l.file.rfind(" ** Pi Computation by DRM with Ramanujan ** \n  ID=" + s +
                                   ",  Pi Decimal=" + std::to_string(5 * words) + ",", 0), 0u);
        }
    }
}

TEST(CommandLine, StandardOutputTakesTheDigits) {
    const Outcome p = run_args("-q -f plain -o - 5k", "");
    EXPECT_EQ(p.status, 0);
    EXPECT_EQ(p.console, plain(5000));
    EXPECT_TRUE(p.entries.empty());
    const Outcome l = run_args("-o - 100", "");
    EXPECT_EQ(l.status, 0);
    EXPECT_EQ(file_digits(l.console), pi_reference(100));
    EXPECT_NE(l.errors.find("Total Time"), std::string::npos);
}

// Past the dialogue's capacity the products split their words (FMT size
// 2^19 and more), checked digit by digit against MPFR.
TEST(CommandLine, PastTheDialoguesCapacity) {
    const Outcome r = run_args("-q -f plain -s 1 -o pi.txt 2M", "pi.txt");
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.file == plain(2000000)) << "the 2,000,000 digits differ from MPFR's";
    const Outcome l = run_args("-s 3 1400000", "RamnDRM3.txt");
    EXPECT_EQ(l.status, 0);
    EXPECT_NE(l.errors.find("FMT Size=524288"), std::string::npos);
    EXPECT_TRUE(file_digits(l.file) == pi_reference(1400000));
}

TEST(CommandLine, VerifiedRunsAgree) {
    const Outcome r = run_args("-q --verify -f plain 100k", "RamnDRM1.txt");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.errors, "verified: 100000 digits agree with series 2\n");
    EXPECT_EQ(r.file, plain(100000));
    const Outcome r3 = run_args("-q --verify -s 3 -f plain 3000", "RamnDRM3.txt");
    EXPECT_EQ(r3.errors, "verified: 3000 digits agree with series 1\n");
}

// The second computation is faulted at one digit: the run fails naming the
// digit, and the earlier result file stays as it was.
TEST(CommandLine, FailedVerificationWritesNothing) {
    static int fault_at = 0;
    const drmpi::ComputePi faulty = [](int series, const drmpi::RunSize& size,
                                       drmpi::Report& report) {
        drmpi::PiResult r = drmpi::compute_digits(series, size, report);
        if (series == 1) r.digits[fault_at] = r.digits[fault_at] == '0' ? '1' : '0';
        return r;
    };
    const Folder folder;
    folder.write("RamnDRM1.txt", "an earlier result\n");
    char here[4096];
    ASSERT_NE(getcwd(here, sizeof here), nullptr);
    ASSERT_EQ(chdir(folder.path().c_str()), 0);
    for (const int at : {0, 1234, 4999}) {
        fault_at = at;
        drmpi::Options o;
        o.digits = 5000;
        o.verify = true;
        o.quiet = true;
        testing::internal::CaptureStderr();
        const int status = drmpi::run_command(o, faulty);
        const std::string errors = testing::internal::GetCapturedStderr();
        EXPECT_EQ(status, 1);
        EXPECT_EQ(errors.rfind("drmpi: verification failed: digit " + std::to_string(at + 1) +
                               " after the point is ", 0), 0u) << errors;
        EXPECT_EQ(folder.read("RamnDRM1.txt"), "an earlier result\n");
        EXPECT_EQ(folder.entries(), std::vector<std::string>{"RamnDRM1.txt"});
    }
    ASSERT_EQ(chdir(here), 0);
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
        const Outcome r = run_args(digits, "RamnDRM1.txt");
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(std::regex_match(r.errors, std::regex(
            "drmpi: " + digits + " digits need about [0-9]+ MB of memory, and [0-9]+ MB are "
            "available \\(" + have.name + "\\): at most [0-9]+ digits fit\n"))) << r.errors;
        EXPECT_TRUE(r.entries.empty());
    }
    const Outcome big = run_args("2G", "RamnDRM1.txt");
    EXPECT_EQ(big.status, 1);
    EXPECT_EQ(big.errors, "drmpi: 2000000000 digits are beyond the largest run, 671088620 "
                          "digits\n");
    if (fmt > drmpi::MaxFmtSize) GTEST_SKIP() << "the largest run fits this machine";
}

TEST(CommandLine, WriteErrorsFailTheRun) {
    const Outcome r = run_args("-q -o /dev/full 1000", "");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.errors, "drmpi: cannot write /dev/full: " + std::string(std::strerror(ENOSPC)) +
                            "\n");
    const Outcome d = run_args("-q -o sub/pi.txt 1000", "");
    EXPECT_EQ(d.status, 1);
    EXPECT_EQ(d.errors, "drmpi: cannot create sub/pi.txt: " + std::string(std::strerror(ENOENT)) +
                            "\n");
}

// The same file and the same rounding error on 1, 2 and 3 threads: the pairs
// of the merges, the products of a pair, the transforms of Newton steps and the
// passes of long transforms spread differently over them.  At 2,000,000 digits
// the products split their words, and long transforms share their passes.
TEST(CommandLine, SameResultOnEveryThreadCount) {
    for (const std::string digits : {"1310700", "2M"}) {
        std::string first;
        for (const std::string threads : {"1", "2", "3"}) {
            const Outcome r = run_args("-t " + threads + " " + digits, "RamnDRM1.txt");
            EXPECT_EQ(r.status, 0) << threads << " threads";
            // The file without its time, which varies.
            const size_t at = r.file.find("  Total Time= ");
            const size_t end = r.file.find(" (s)", at);
            ASSERT_NE(end, std::string::npos);
            const std::string file = r.file.substr(0, at) + r.file.substr(end);
            if (first.empty()) first = file;
            EXPECT_TRUE(file == first) << digits << " digits, " << threads << " threads";
        }
    }
}

// Long runs, left out of the default test command and run in CI: ten million
// digits of series 1, verified by series 2, against MPFR.
TEST(LongCommandLine, TenMillionDigitsVerified) {
    const Outcome r = run_args("--verify -f plain -o pi.txt 10M", "pi.txt");
    EXPECT_EQ(r.status, 0) << r.errors;
    EXPECT_NE(r.errors.find("verified: 10000000 digits agree with series 2"), std::string::npos);
    EXPECT_TRUE(r.file == plain(10000000)) << "the 10,000,000 digits differ from MPFR's";
}

}  // namespace
}  // namespace drmpi_test

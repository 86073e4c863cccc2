// The result file is replaced only by a complete, sound result: runs that
// collide, stop, are interrupted, or cannot write leave the earlier file as
// it was and no temporary file behind; the console works through pipes and
// closed descriptors; and the rounding-error guard refuses a wrong product.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "driver/cli.h"
#include "driver/report.h"
#include "driver/run.h"
#include "fft/fft.h"
#include "mp/mp.h"
#include "support/oracle.h"
#include "support/program.h"

namespace drmpi_test {
namespace {

const std::string Earlier = "an earlier result\n";
const std::vector<std::string> OnlyResult = {"RamnDRM1.txt"};

// The first `count` digits of pi with the header of series 1 for N = count.
void expect_result(const std::string& file, int count) {
    const std::string head = " ** Pi Computation by DRM with Ramanujan ** \n  ID=1,  Pi Decimal=" +
                             std::to_string(count) + ",";
    EXPECT_EQ(file.substr(0, head.size()), head);
    EXPECT_EQ(file_digits(file), pi_reference(count));
}

// A run typed in two parts, through pipes, shows its prompt before anything
// is typed, and collides with a second run in the same folder: each writes
// its own file, and the later rename leaves one whole result.
TEST(ResultFile, TwoRunsInOneFolderLeaveOneWholeResult) {
    const Folder folder;
    Session first(folder);
    ASSERT_TRUE(first.read_until("Free-Sqrt")) << "no prompt before input: " << first.console();
    first.type("1\n");
    ASSERT_TRUE(first.read_until("Type In N"));
    const Outcome second = run("", "1 100000\n", "RamnDRM1.txt", "", "", Drmpi, folder);
    EXPECT_EQ(second.status, 0);
    expect_result(second.file, 100000);
    first.type("1000\n");
    EXPECT_EQ(first.wait(), 0);
    expect_result(folder.read("RamnDRM1.txt"), 1000);
    EXPECT_EQ(folder.entries(), OnlyResult);
}

// A console closed or full: the result is still written whole, and the
// file must not take descriptor 1 and receive the console text; a full one
// ends the run with status 1 and the reason on standard error.
TEST(ResultFile, ClosedOrFullConsoleKeepsTheResultWhole) {
    const struct { std::string redirect, errors; int status; } cases[] = {
        {">&- 2> errors", "", 0},
        {"> /dev/full 2> errors",
         "drmpi: cannot write to standard output: " + std::string(std::strerror(ENOSPC)) + "\n", 1},
    };
    for (const auto& c : cases) {
        const Outcome r = run("", "1 1000\n", "RamnDRM1.txt", "", c.redirect);
        EXPECT_EQ(r.status, c.status) << c.redirect;
        EXPECT_EQ(r.errors, c.errors);
        EXPECT_EQ(r.file.find("DRM Step="), std::string::npos) << c.redirect;
        expect_result(r.file, 1000);
    }
}

// A termination signal, or one of a crash, during the computation or while
// N is asked for; through a pipe the progress lines show while the
// computation still runs.
TEST(ResultFile, InterruptedRunLeavesTheEarlierResult) {
    const rlimit no_core = {0, 0};
    ASSERT_EQ(setrlimit(RLIMIT_CORE, &no_core), 0);
    for (const int sig : {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGSEGV, SIGBUS, SIGABRT}) {
        for (const bool computing : {true, false}) {
            SCOPED_TRACE(std::string(strsignal(sig)) + (computing ? " computing" : " at N"));
            const Folder folder;
            folder.write("RamnDRM1.txt", Earlier);
            Session s(folder);
            s.type(computing ? "1 1310700\n" : "1\n");
            ASSERT_TRUE(s.read_until(computing ? "DRM Steps=" : "Type In N"));
            s.signal(sig);
            EXPECT_EQ(s.wait(), 128 + sig);
            EXPECT_EQ(s.console().find("Total Time"), std::string::npos) << "finished first";
            EXPECT_EQ(folder.read("RamnDRM1.txt"), Earlier);
            EXPECT_EQ(folder.entries(), OnlyResult);
        }
    }
}

// Runs that the memory or the threads they need are denied, by an
// address-space limit that the run's own check does not foresee (the
// dialogue's, or threads beyond it): status 1 with the reason on standard
// error, never a crash, the earlier result kept and no temporary file left.
TEST(ResultFile, DeniedMemoryOrThreadsFailCleanly) {
#ifdef __SANITIZE_ADDRESS__
    GTEST_SKIP() << "the sanitizer's shadow memory does not fit an address-space limit";
#endif
    const struct { std::string input, args, limit_kb; } cases[] = {
        {"1\n1310700\n", "", "30000"},
        {"", "-q -t 2 -o RamnDRM1.txt 2M", "150000"},
        {"", "-q -t 64 -o RamnDRM1.txt 2M", "300000"},
        {"", "-t 500 -o RamnDRM1.txt 1M", "3000000"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args + " under " + c.limit_kb + " kB");
        const Outcome r = run(c.args, c.input, "RamnDRM1.txt",
                              "echo an earlier result > RamnDRM1.txt; ulimit -v " + c.limit_kb);
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(std::regex_match(r.errors, std::regex("(.*\n)?drmpi: [^\n]+\n"))) << r.errors;
        EXPECT_EQ(r.file, Earlier);
        EXPECT_EQ(r.entries, OnlyResult);
    }
}

// A write of the result that fails at once (a link to a full device: with 20
// digits at the final flush, with 10000 during the report) or part-way (a
// file-size limit of 2 KB, as on a full disk, beside an earlier result): the
// run stops with the reason after the report and leaves the earlier result.
TEST(ResultFile, FailedWriteLeavesTheEarlierResult) {
    const struct { std::string n, setup; int e; } cases[] = {
        {"20", "ln -s /dev/full RamnDRM1.txt", ENOSPC},
        {"10000", "ln -s /dev/full RamnDRM1.txt", ENOSPC},
        {"100000", "echo an earlier result > RamnDRM1.txt; ulimit -f 2", EFBIG},
    };
    for (const auto& c : cases) {
        const Outcome r = run("", "1 " + c.n + "\n", "RamnDRM1.txt", c.setup);
        EXPECT_EQ(r.status, 1) << c.n;
        EXPECT_NE(r.console.find("  Total Time= "), std::string::npos) << c.n;
        EXPECT_TRUE(r.console.ends_with(" ** Error Stop ** cannot write RamnDRM1.txt: " +
                                        std::string(std::strerror(c.e)) + " \n"))
            << r.console;
        EXPECT_EQ(r.file, c.e == EFBIG ? Earlier : "") << c.n;
        EXPECT_EQ(r.entries, OnlyResult) << c.n;
    }
}

// Through a chain of relative links the result replaces the file at its end;
// the links stay links.  A replaced file keeps its permissions; a new one
// gets those that the umask leaves.
TEST(ResultFile, LinksAreFollowedAndPermissionsKept) {
    const Outcome linked = run("", "1 20\n", "sub/target.txt",
                               "mkdir sub && ln -s sub/link RamnDRM1.txt && "
                               "ln -s target.txt sub/link && echo old > sub/target.txt && "
                               "chmod 640 sub/target.txt");
    EXPECT_EQ(linked.status, 0);
    expect_result(linked.file, 20);
    const Folder folder;
    const auto mode = [&] { return std::filesystem::status(folder.path() + "/RamnDRM1.txt"); };
    run("", "1 20\n", "RamnDRM1.txt", "umask 027", "", Drmpi, folder);
    EXPECT_EQ(mode().permissions(), std::filesystem::perms(0640));
    run("", "1 20\n", "RamnDRM1.txt", "chmod 604 RamnDRM1.txt", "", Drmpi, folder);
    EXPECT_EQ(mode().permissions(), std::filesystem::perms(0604));
    EXPECT_EQ(folder.entries(), OnlyResult);
}

// Faulty computations, made in-process: through run_command, a second
// computation that differs at one digit, and a first or second one that
// fails the rounding guard, quiet or not; through run_dialogue, one that
// fails the guard, the stop line then ending the console.  Each run fails
// with status 1 and its reason, and the earlier result file stays as it was.
TEST(ResultGuard, FaultyComputationsWriteNothing) {
    static int fault_at = 0;
    static int unsound = -1;  // the series whose computation fails the guard
    const drmpi::ComputePi faulty = [](int series, const drmpi::RunSize& size,
                                       drmpi::Report& report) {
        drmpi::PiResult r = drmpi::compute_digits(series, size, report);
        if (series == 1) r.digits[fault_at] = r.digits[fault_at] == '0' ? '1' : '0';
        if (series == unsound) r.sound = false;
        return r;
    };
    const Folder folder;
    folder.write("RamnDRM1.txt", Earlier);
    folder.write("input", "1 1000\n");
    const std::filesystem::path here = std::filesystem::current_path();
    std::filesystem::current_path(folder.path());
    ASSERT_NE(std::freopen("input", "r", stdin), nullptr);
    // quiet < 0: the dialogue, typed "1 1000"; else run_command.  Returns
    // standard output, then standard error.
    const auto run = [&](int quiet) {
        drmpi::Options o;
        o.digits = 5000;
        o.verify = true;
        o.quiet = quiet > 0;
        drmpi::Output out;
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        EXPECT_EQ(quiet < 0 ? drmpi::run_dialogue(out, faulty) : drmpi::run_command(out, o, faulty),
                  1);
        EXPECT_EQ(folder.read("RamnDRM1.txt"), Earlier);
        EXPECT_EQ(folder.entries(), OnlyResult);
        const std::string text = testing::internal::GetCapturedStdout();
        return text + testing::internal::GetCapturedStderr();
    };
    for (const int at : {0, 1234, 4999}) {
        fault_at = at;
        const std::string errors = run(1);
        EXPECT_EQ(errors.rfind("drmpi: verification failed: digit " + std::to_string(at + 1) +
                               " after the point is ", 0), 0u) << errors;
    }
    for (const int series : {0, 1}) {
        unsound = series;
        EXPECT_EQ(run(1), drmpi::RoundingStop);
        EXPECT_TRUE(run(0).ends_with(drmpi::RoundingStop));
    }
    unsound = 0;
    const std::string console = run(-1);
    std::freopen("/dev/null", "r", stdin);
    std::filesystem::current_path(here);
    EXPECT_NE(console.find("  Total Time= "), std::string::npos);
    EXPECT_TRUE(console.ends_with(drmpi::RoundingStop)) << console;
}

// The guard of the driver, fed the error of a product that went wrong: all
// words +50000 at length 2^20, transformed whole, round some outputs to the
// wrong whole number, and the measure reports 0.5 at most.
TEST(ResultGuard, RefusesAWrongProductAndAWrongIntegerPart) {
    const int n = 1 << 20;
    const drmpi::FftPlan& plan = drmpi::fft_plan(n);
    std::vector<double> a(n, 5e4), out(2 * n);
    Fenced spectrum(2 * n), square(2 * n);
    drmpi::fft_forward_words(plan, a.data(), spectrum.data());
    drmpi::fft_mul(plan, spectrum.data(), spectrum.data(), square.data());
    const double err = drmpi::fft_inverse_words(plan, square.data(), out.data());
    drmpi::mp_normalize(out.data(), 2 * n);
    const mpz_class x = vec_value(a.data(), n);
    ASSERT_NE(vec_value(out.data(), 2 * n), x * x) << "a right product: the test shows nothing";
    double pi[4] = {1, 3, 14159, 26535};
    EXPECT_FALSE(drmpi::result_sound(pi, err)) << "error " << err;
    EXPECT_TRUE(drmpi::result_sound(pi, 0.003));
    EXPECT_FALSE(drmpi::result_sound(pi, 0.2501));
    EXPECT_FALSE(drmpi::result_sound(pi, std::nan("")));
    pi[1] = 4;
    EXPECT_FALSE(drmpi::result_sound(pi, 0.003));
    pi[1] = 3;
    pi[0] = 2;
    EXPECT_FALSE(drmpi::result_sound(pi, 0.003));
}

}  // namespace
}  // namespace drmpi_test

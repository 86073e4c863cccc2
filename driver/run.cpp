// A run of the dialogue or the command line: the computation of pi,
// its verification, and the result file.
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <system_error>

#include "driver/digits.h"
#include "driver/drm.h"
#include "driver/run.h"
#include "fft/fft.h"
#include "mp/mp.h"
#include "mp/parallel.h"

namespace drmpi {

PiResult compute_digits(int series, const RunSize& size, Report& report) {
    const int n = static_cast<int>(size.fmt_size);
    const int words = static_cast<int>(size.word_count);
    // Every job of the run follows this count.
    const int lanes = run_lanes(n, thread_count());
    const ThreadCountScope threads(run_threads(n, thread_count()));
    PiResult r;
    r.steps = drm_step_count(series, words, n);
    parallel_start();
    const Workspace w(n, lanes);
    fft_prepare(n);
    report.start(series, size, r.steps);
    const int start = clock_ms();
    r.error = drm_sum(series, r.steps, drm_term_count(series, words, n), w, report);
    // The thread of the second lane is done with.
    if (lanes == 2) parallel_retire();
    r.error = dmax(r.error, compute_pi(series, w));
    w.release_all_but_pi();
    r.digits = pi_digits(w.pi, words);
    r.sound = result_sound(w.pi, r.error);
    r.seconds = (clock_ms() - start) / 1000.0;
    report.finish(r.seconds, r.error);
    return r;
}

namespace {

// The series that verifies series (0-based): 1 is checked by 2, 2 and 3 by 1.
int partner(int series) { return series == 0 ? 1 : 0; }

// Writes the result in its format to f; the commit finds any failed write.
void write_result(FILE* f, const Options& o, const RunSize& size, const PiResult& r) {
    if (o.plain) {
        write_plain(f, r.digits, o.digits);
    } else {
        for (const std::string& line :
             {title_line(Ramanujan.title, true), size_line(o.series + 1, size),
              steps_line(r.steps, size.fmt_size), total_line(r.seconds, r.error)})
            std::fputs(line.c_str(), f);
        write_digit_lines(f, r.digits);
    }
}

// The computation and its verification; 0, or 1 after the reason was given.
int compute_checked(const Options& o, const RunSize& size, ComputePi compute, Report& report,
                    PiResult* first) {
    // A computation that fails the guard ends the run.
    const auto sound = [&](const PiResult& r) {
        if (!r.sound) report.stop(RoundingStop);
        return r.sound;
    };
    *first = compute(o.series, size, report);
    if (!sound(*first)) return 1;
    if (!o.verify) return 0;
    const int other = partner(o.series);
    const PiResult second = compute(other, size, report);
    if (!sound(second)) return 1;
    const size_t count = static_cast<size_t>(o.digits);
    size_t at = 0;
    while (at < count && first->digits[at] == second.digits[at]) ++at;
    if (at < count) {
        std::fprintf(stderr,
                     "drmpi: verification failed: digit %zu after the point is %c with series %d "
                     "and %c with series %d\n",
                     at + 1, first->digits[at], o.series + 1, second.digits[at], other + 1);
        return 1;
    }
    if (!o.quiet)
        std::fprintf(stderr, "verified: %" PRId64 " digits agree with series %d\n", o.digits,
                     other + 1);
    return 0;
}

}  // namespace

int compute_and_write(Output& out, const Options& o, const RunSize& size, ComputePi compute,
                      ReportTo to, const std::string& shown) {
    const int n = static_cast<int>(size.fmt_size);
    const int words = static_cast<int>(size.word_count);
    double work = 0.0;
    for (const int series : {o.series, partner(o.series)}) {
        const int steps = drm_step_count(series, words, n);
        work += computation_work(series, steps);
        if (!o.verify) break;
    }
    Report report(to, work, &out.console);
    PiResult r;
    int status = 1;
    try {
        status = compute_checked(o, size, compute, report, &r);
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "drmpi: not enough memory for %" PRId64 " digits\n", o.digits);
    } catch (const std::system_error& e) {
        std::fprintf(stderr, "drmpi: cannot start %d threads: %s\n", thread_count(),
                     std::strerror(e.code().value()));
    }
    if (status != 0) {
        out.file.discard();
        return status;
    }
    write_result(out.file.stream(), o, size, r);
    if (const int e = out.file.commit(); e != 0) {
        if (to == ReportTo::Console) {
            const std::string stop = " ** Error Stop ** cannot write " + shown + ": " +
                                     std::strerror(e) + " \n";
            report.stop(stop.c_str());
        } else {
            std::fprintf(stderr, "drmpi: cannot write %s: %s\n", shown.c_str(), std::strerror(e));
        }
        return 1;
    }
    return 0;
}

int run_dialogue(Output& out, ComputePi compute) {
    const RunSetup run = setup_run(out);
    Options o;
    o.series = run.series;
    o.digits = run.digits;
    const int status =
        compute_and_write(out, o, run.size, compute, ReportTo::Console, run.file_name);
    return out.console.finish() | status;
}

}  // namespace drmpi

// A computation of pi for the command line: its report on standard error
// with a live progress line, and the computation itself.
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>

#include "driver/driver.h"
#include "mp/mp.h"

namespace drmpi {

Report::Report(bool quiet) : quiet_(quiet), live_(!quiet && isatty(2) == 1) {}

Report::~Report() { stop_ticker(); }

void Report::line(const char* format, ...) {
    if (quiet_) return;
    std::lock_guard<std::mutex> hold(mutex_);
    clear();
    std::va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    draw();
}

void Report::start(int series, const RunSize& size, int steps) {
    line("%s", title_line(MethodTable[3].title, false).c_str());
    line("%s", size_line(series + 1, size).c_str());
    line("%s", steps_line(steps, size.fmt_size).c_str());
    {
        std::lock_guard<std::mutex> hold(mutex_);
        steps_ = steps;
        done_ = 0;
        begin_ = std::chrono::steady_clock::now();
        running_ = true;
    }
    if (live_ && !ticker_.joinable()) ticker_ = std::thread([this] { tick(); });
}

void Report::step(int step, double seconds) {
    {
        std::lock_guard<std::mutex> hold(mutex_);
        done_ = step;
    }
    line("%s", step_line(step, seconds).c_str());
}

void Report::finish(double seconds, double error) {
    {
        std::lock_guard<std::mutex> hold(mutex_);
        running_ = false;
    }
    line("%s", total_line(seconds, error).c_str());
}

// The progress line, overwritten in place: the step, the share of the work
// done (the final assembly of pi counts as one step more), the time so far
// and an estimate of the time left.  Called with the mutex held.
void Report::draw() {
    if (!live_ || !running_) return;
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin_).count();
    const double share = static_cast<double>(done_) / (steps_ + 1);
    char left[48] = "";
    if (done_ > 0)
        std::snprintf(left, sizeof left, ", about %.0f s left", elapsed / share - elapsed);
    std::fprintf(stderr, "\r  step %d of %d, %3.0f %% done, %.0f s%s\033[K", done_ + 1 > steps_
                 ? steps_ : done_ + 1, steps_, 100 * share, elapsed, left);
    std::fflush(stderr);
    drawn_ = true;
}

void Report::clear() {
    if (!drawn_) return;
    std::fputs("\r\033[K", stderr);
    drawn_ = false;
}

void Report::tick() {
    std::unique_lock<std::mutex> hold(mutex_);
    while (!stop_) {
        clear();
        draw();
        wake_.wait_for(hold, std::chrono::milliseconds(500));
    }
    clear();
}

void Report::stop_ticker() {
    if (!ticker_.joinable()) return;
    {
        std::lock_guard<std::mutex> hold(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    ticker_.join();
}

PiResult compute_digits(int series, const RunSize& size, Report& report) {
    const int n = static_cast<int>(size.fmt_size);
    const int words = static_cast<int>(size.word_count);
    PiResult r;
    r.steps = drm_step_count(series, words, n, DigitsPerWord);
    report.start(series, size, r.steps);
    const Workspace w(n);
    const int start = clock_ms();
    r.error = drm_sum(series, r.steps, w,
                      [&](int step, double seconds) { report.step(step, seconds); });
    r.error = dmax(r.error, compute_pi(series, w));
    r.digits = pi_digits(w.sum, words);
    r.sound = result_sound(w.sum, r.error);
    r.seconds = (clock_ms() - start) / 1000.0;
    report.finish(r.seconds, r.error);
    return r;
}

}  // namespace drmpi

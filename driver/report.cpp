// The report of a run: its header and closing lines, the total time, the
// rounding error, the progress line of the command line and the model of the
// work that it estimates the time left from.
#include <unistd.h>

#include <chrono>
#include <cinttypes>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <string>
#include <system_error>

#include "driver/console.h"
#include "driver/drm.h"
#include "driver/report.h"
#include "mp/mp.h"

namespace drmpi {

namespace {

// printf into a string of at most one short line.
__attribute__((format(printf, 1, 2))) std::string formatted(const char* format, ...) {
    char line[256];
    std::va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    return line;
}

}  // namespace

std::string title_line(const char* title, bool in_file) {
    return formatted(" ** Pi Computation by %s %s\n", title, in_file ? "** " : "");
}

std::string size_line(int id, const RunSize& size) {
    return formatted("  ID=%d,  Pi Decimal=%" PRIu64 ",  FMT Size=%" PRId64 "\n", id,
                     size.digits, size.fmt_size);
}

std::string steps_line(int steps, int64_t fmt_size) {
    return formatted("  DRM Steps= %d,  FMT Size= %" PRId64 " \n", steps, fmt_size);
}

std::string step_line(int step, double seconds) {
    return formatted("  DRM Step=%3d,  Time=%8.2f (s)\n", step, seconds);
}

std::string total_line(double seconds, double error) {
    return formatted("  Total Time= %f (s)  Rounding Error= %e \n", seconds, error);
}

bool result_sound(const double* pi, double max_error) {
    return max_error <= ErrorLimit && pi[0] == 1.0 && pi[1] == 3.0;
}

// The work of the parts of a computation, in units of the merge of one
// chunk, as measured at 2M and 10M digits: the fold of a chunk (three
// products) costs about a quarter of its merge, the final root and division
// 0.9 (0.5 without the root, for series 3), and the first merge a sixth more
// for the workspace's first touch.
namespace {
constexpr double MergeWork = 1.0, FoldWork = 0.25, FirstTouchWork = 0.15;

double final_work(int series) { return PiFactorTable[series][2] == 1 ? 0.5 : 0.9; }
}  // namespace

double computation_work(int series, int steps) {
    return FirstTouchWork + steps * (MergeWork + FoldWork) + final_work(series);
}

Report::Report(ReportTo to, double total_work, Console* console)
    : to_(to), console_(console), live_(to == ReportTo::Errors && isatty(2) == 1),
      total_(total_work) {}

Report::~Report() { stop_ticker(); }

void Report::line(const char* format, ...) {
    if (to_ == ReportTo::Nowhere) return;
    std::va_list args;
    va_start(args, format);
    char text[256];
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    put(text, true);
}

void Report::stop(const char* text) { put(text, false); }

// Writes text to the console, or to standard error below a cleared progress
// line, which is drawn again after it when redraw.
void Report::put(const char* text, bool redraw) {
    if (to_ == ReportTo::Console) {
        console_->print("%s", text);
        return;
    }
    std::lock_guard<std::mutex> hold(mutex_);
    clear();
    std::fputs(text, stderr);
    if (redraw) draw();
}

void Report::start(int series, const RunSize& size, int steps) {
    {
        std::lock_guard<std::mutex> hold(mutex_);
        ++computation_;
        series_ = series;
        steps_ = steps;
        step_ = 0;
        touched_ = false;
        if (computation_ == 1) begin_ = std::chrono::steady_clock::now();
        running_ = true;
    }
    if (to_ != ReportTo::Console) {
        line("%s", title_line(Ramanujan.title, false).c_str());
        line("%s", size_line(series + 1, size).c_str());
    }
    line("%s", steps_line(steps, size.fmt_size).c_str());
    if (live_ && !ticker_.joinable()) {
        try {
            ticker_ = std::thread([this] { tick(); });
        } catch (const std::system_error&) {
            // Without the thread the report only lacks its progress line.
        }
    }
}

void Report::merged() {
    std::lock_guard<std::mutex> hold(mutex_);
    done_work(MergeWork + (touched_ ? 0.0 : FirstTouchWork));
    touched_ = true;
}

void Report::folded() {
    std::lock_guard<std::mutex> hold(mutex_);
    done_work(FoldWork);
}

void Report::step(int step, double seconds) {
    {
        std::lock_guard<std::mutex> hold(mutex_);
        step_ = step;
    }
    line("%s", step_line(step, seconds).c_str());
}

void Report::finish(double seconds, double error) {
    {
        std::lock_guard<std::mutex> hold(mutex_);
        done_work(final_work(series_));
        running_ = false;
    }
    line("%s", total_line(seconds, error).c_str());
}

// Records work done, and when.  Called with the mutex held.
void Report::done_work(double work) {
    done_ += work;
    done_at_ = std::chrono::steady_clock::now();
}

// The progress line, overwritten in place: the phase, the share of the work
// done, the time so far and an estimate of the time left, from the pace of
// the work done so far.  Called with the mutex held.
void Report::draw() {
    if (!live_ || !running_) return;
    const auto now = std::chrono::steady_clock::now();
    const double elapsed = std::chrono::duration<double>(now - begin_).count();
    const double share = total_ > 0 ? done_ / total_ : 0.0;
    char phase[48], left[48] = "";
    if (step_ < steps_) {
        std::snprintf(phase, sizeof phase, "step %d of %d", step_ + 1, steps_);
    } else {
        std::snprintf(phase, sizeof phase, "final root and division");
    }
    if (share > 0) {
        const double until = std::chrono::duration<double>(done_at_ - begin_).count() / share;
        std::snprintf(left, sizeof left, ", about %.0f s left", until > elapsed ? until - elapsed
                                                                                : 0.0);
    }
    std::fprintf(stderr, "\r  %s%s, %3.0f %% done, %.0f s%s\033[K",
                 computation_ > 1 ? "check, " : "", phase, 100 * share, elapsed, left);
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

}  // namespace drmpi

// The report of a run: its header and closing lines, the rounding guard,
// and the progress line of the command line.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "driver/console.h"
#include "driver/setup.h"

namespace drmpi {

// Largest rounding error that a run may report and still be written: every
// product output is then far inside the 0.5 within which rounding is right.
inline constexpr double ErrorLimit = 0.25;

// The lines of a run's header and close, each with its newline, as the
// console, the report and the result file all show them.  The title line of
// a file ends in " ** ", that of the console in a blank.
std::string title_line(const char* title, bool in_file);
std::string size_line(int id, const RunSize& size);  // id 1-based
std::string steps_line(int steps, int64_t fmt_size);
std::string step_line(int step, double seconds);
std::string total_line(double seconds, double error);

// The line that ends a run whose rounding error is too large.
inline constexpr char RoundingStop[] = " ** Error Stop ** Rounding Error too large \n";

// Whether a finished run may be written: its largest rounding error is at
// most ErrorLimit (a NaN is not) and pi, as pi_digits leaves it, has the
// integer part 3.
bool result_sound(const double* pi, double max_error);

// Where a report goes: the dialogue's console (standard output, without the
// title and size lines, which the dialogue has shown), standard error (with
// a progress line on a terminal), or nowhere (quiet).
enum class ReportTo { Console, Errors, Nowhere };

// The work of a computation of series (0-based) in steps DRM steps, in units
// of the merge of one chunk, as the progress line counts it.
double computation_work(int series, int steps);

// The report of a run: the lines of the dialogue's report and, on a terminal,
// a progress line that a thread keeps up to date, with the share of
// total_work (in the units of computation_work) done and an estimate of the
// time left.  Safe to call from the thread of the run while the progress
// thread draws.
class Report {
  public:
    // console: where ReportTo::Console writes; unused otherwise.
    Report(ReportTo to, double total_work, Console* console = nullptr);
    ~Report();
    Report(const Report&) = delete;
    Report& operator=(const Report&) = delete;

    void line(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // A line that ends a failed run: shown even where the report is quiet
    // (on standard error then).
    void stop(const char* text);
    // The header lines of a computation that starts.
    void start(int series, const RunSize& size, int steps);
    void merged();                              // a chunk merged
    void folded();                              // a chunk folded
    void step(int step, double seconds);        // a step line
    void finish(double seconds, double error);  // the total time and error

  private:
    void put(const char* text, bool redraw);
    void done_work(double work);
    void draw();
    void clear();
    void tick();
    void stop_ticker();

    const ReportTo to_;
    Console* const console_;
    const bool live_;
    const double total_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::thread ticker_;
    bool stop_ = false;
    bool running_ = false;
    bool drawn_ = false;
    int computation_ = 0;  // 1 for the first, 2 for a verification's
    int series_ = 0;
    int steps_ = 0;
    int step_ = 0;  // steps done of the current computation
    bool touched_ = false;  // the current computation has merged a chunk
    double done_ = 0.0;  // work done, all computations
    std::chrono::steady_clock::time_point begin_, done_at_;
};

}  // namespace drmpi

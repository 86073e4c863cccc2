// Driver and dialogue: the console, the result file, the run set-up, the DRM
// driver with the final assembly of pi, and the result report.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

#include "mp/mp.h"
#include "series/series.h"

namespace drmpi {

// The texts of the set-up dialogue and of a run's header.  The file-name
// template has its '?' at character FileIdAt, where the series ID digit goes.
struct Method {
    const char* id_prompt;  // blank-filled to 28 characters
    const char* menu;       // blank-filled to 51 characters
    const char* file_template;
    const char* title;
    int largest_id;
};

inline constexpr Method Ramanujan = {
    " Type In ID, (ID=1,2,3)     ", " 1;Chudnovsky, 2;Fast-Ramanujan 3;Free-Sqrt        ",
    "RamnDRM?.txt", "DRM with Ramanujan", 3};
inline constexpr int FileIdAt = 7;

// The result file of series (0-based): RamnDRM1.txt, RamnDRM2.txt, RamnDRM3.txt.
std::string result_file_name(int series);

// Factor by which successive terms shrink for large k, by 0-based series ID;
// its decimal logarithm is the number of digits one term adds.
inline constexpr double ConvergenceBase[3] = {151931373056000.0, 96059601.0, 777924.0};

// pi = f0 f1 sqrt(f2) / (f3 (f4 + f5 S)), S the folded series from k = 1 on:
// f4 is the term k = 0 and f5 = p(1).  By 0-based series ID.
inline constexpr int PiFactorTable[3][6] = {
    {128, 10005, 10005, 3, 13591409, 5},
    {1, 9801, 2, 4, 1103, 3},
    {1, 3528, 1, 1, 1123, 3},
};

// Capacity of the dialogue in words: the largest FMT size that fits is 2^18,
// so the largest N is 1,310,700.
inline constexpr int ND = 270001;

// Largest rounding error that a run may report and still be written: every
// product output is then far inside the 0.5 within which rounding is right.
inline constexpr double ErrorLimit = 0.25;

// -------------------------------------------------------- console (console.cpp) --

// Makes the process safe to run from any shell: descriptors 0..2 that are
// closed are opened on /dev/null (so no file can take their numbers), standard
// output is line-buffered (prompts and progress show through a pipe at once),
// and SIGPIPE and SIGXFSZ are ignored (a vanished reader or a file-size limit
// becomes a write error).
void console_init();

// Whether descriptor fd (0..2) was closed when console_init ran: output asked
// of it cannot be delivered, though /dev/null now holds its number.
bool console_was_closed(int fd);

// Writes to standard output like printf; the first failure is remembered.
void console(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Flushes standard output.  When anything written to it was lost, says so on
// standard error and returns 1; otherwise returns 0.
int console_finish();

// ------------------------------------------------ result file (result_file.cpp) --

// The open result file.  Its lines go to a temporary file beside the target;
// the target is replaced only by result_file_commit.
extern FILE* ResultFile;

// Prepares the result file `name` without touching it: follows symbolic
// links to the file they name, checks that an existing file can be written,
// and creates the temporary file in the target's folder with the target's
// permissions; where that name would be too long, the target's name in it is
// cut short.  A target that is not a regular file (a device, say) is opened
// and written directly, and the name of a descriptor (/dev/stdout,
// /dev/stderr, /dev/fd/N, /proc/self/fd/N) writes through that descriptor.
// Returns 0, or the errno of the failure.  Until the commit, any exit, the
// termination signals SIGHUP, SIGINT, SIGQUIT and SIGTERM, and the crash
// signals SIGSEGV, SIGBUS, SIGABRT, SIGFPE and SIGILL remove the temporary
// file and leave the target as it was.
int result_file_open(const char* name);

// Closes the file without completing it: the temporary file goes, and the
// target stays as it was (a target written in place keeps what it got).
void result_file_discard();

// Completes the file: flush, sync, close, and rename over the target.
// Returns 0, or the errno of a failure, after which the temporary file is
// gone and the target as it was.
int result_file_commit();

// ------------------------------------------------------ run set-up (setup.cpp) --

// The sizes of a run of N decimal digits: the word count ceil(N / 5), the
// digits it holds (5 per word), and the FMT size, the smallest power of two
// that leaves at least four words beyond the word count.  N >= 1.
struct RunSize {
    int64_t word_count;
    uint64_t digits;  // beyond int64 for N near 2^63
    int64_t fmt_size;
};
RunSize size_run(int64_t n);

// What the set-up dialogue delivers.
struct RunSetup {
    int series;  // 0-based
    int64_t digits;  // N as typed
    RunSize size;
    std::string file_name;  // result_file_name(series)
};

// Asks for the series ID, prepares its result file, asks for N, sizes the run
// and shows the title and size lines on the console.  Ends the program with
// status 1 when the FMT size exceeds the dialogue's capacity ND, when N is
// below 1, when the file cannot be created or when the input ends; the result
// file is then left as it was.
RunSetup setup_run();

// ------------------------------------------------------ DRM driver (drm.cpp) --

// Up to this FMT size the fold of a chunk runs beside the merge of the next
// (see drm_sum), with storage of its own, when the run has two threads or more.
inline constexpr int PipelineMax = 1 << 22;

// Whether a run of FMT size n on `threads` threads folds each chunk beside
// the next chunk's merge.
inline bool pipelined(int n, int threads) { return threads >= 2 && n <= PipelineMax; }

// The storage of a run of FMT size n, allocated once and zeroed: the numbers
// P, Q, T, A and S (n + 1 words each), the product P S (2n + 1 words), and one
// area that the merges, the product P S and the Newton operations use in
// turn; for a pipelined run on `threads` threads also a second P, Q and T and
// the fold's own area.  Throws std::bad_alloc when the memory is not there.
class Workspace {
  public:
    explicit Workspace(int n, int threads = thread_count());
    // Doubles that a Workspace of FMT size n for `threads` threads allocates.
    static int64_t doubles(int n, int threads);

    int n;
    double* p;
    double* q;
    double* t;
    double* a;
    double* sum;
    double* b;
    double* area;
    double* p2 = nullptr;  // pipelined runs only
    double* q2 = nullptr;
    double* t2 = nullptr;
    double* fold_area = nullptr;
    StepArrays step() const { return {p, q, t, area}; }

  private:
    Doubles storage_;
};

// Milliseconds of elapsed real time since the program started.
int clock_ms();

// Number of DRM steps that cover the terms needed for word_count words.
int drm_step_count(int series, int word_count, int fmt_size);

class Report;

// Whether drm_sum runs the fold of each chunk beside the merge of the next:
// in a pipelined run of two steps or more.
bool drm_pipelined(int n, int steps);

// Evaluates the series in the given number of DRM steps, from the last chunk
// of n/8 terms to the first, folding each into w.sum: S := (T + P S)/Q.
// Tells report of each chunk merged and folded, and each step done.
// Returns the largest rounding error of all products.  Where drm_pipelined
// says so and w was made for a pipelined run, each fold runs beside the next
// chunk's merge (on the side thread, when parallel_start has started it).  The plans up to
// w.n are built on first use unless fft_prepare has built them.
double drm_sum(int series, int steps, const Workspace& w, Report& report);

// Replaces the folded sum S in w.sum by pi, at n words.  Returns the largest
// rounding error of its products.
double compute_pi(int series, const Workspace& w);

// ---------------------------------------------------------- report (report.cpp) --

// The digits after the point of pi (an MpNumber with exponent 1, its words
// turned non-negative here, in place): five for each of the words 2 ..
// word_count + 1, and for the word after them when word_count is odd, since
// the layout prints words in pairs.
std::string pi_digits(double* pi, int word_count);

// Writes "  Pi = 3. " and the digits in numbered lines of eight groups of ten:
// each line "\n", a blank, the position of its first digit after the point in
// %8d, and the groups, each after a blank.  No newline ends the last line.
// digits.size() is a multiple of 10.
void write_digit_lines(FILE* f, const std::string& digits);

// Writes "3.", the first count digits and a newline.
void write_plain(FILE* f, const std::string& digits, int64_t count);

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
// most ErrorLimit (a NaN is not) and pi, as report_result leaves it, has
// the integer part 3.
bool result_sound(const double* pi, double max_error);

// ---------------------------------------------- command line (cli.cpp, run.cpp) --

// The largest FMT size of a run: the longest transform of the kernel.
inline constexpr int MaxFmtSize = 1 << 27;

// What the command line asks for.
struct Options {
    int series = 0;  // 0-based
    int64_t digits = 0;
    std::string output;  // "" for RamnDRM<ID>.txt, "-" for standard output
    bool plain = false;
    int threads = 0;  // 0: the default count
    bool verify = false;
    bool quiet = false;
};

// A computation of pi for the command line.
struct PiResult {
    std::string digits;  // as pi_digits gives them
    double error = 0.0;  // the largest rounding error
    double seconds = 0.0;
    int steps = 0;
    bool sound = false;  // result_sound
};

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
    Report(ReportTo to, double total_work);
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
    void done_work(double work);
    void draw();
    void clear();
    void tick();
    void stop_ticker();

    const ReportTo to_;
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

// The computation of series (0-based) at the size given, in a workspace of its
// own, reported step by step.  It reserves the workspace, builds the plans
// and starts the threads before it reports its start, so that a machine that
// lacks them stops it there: std::bad_alloc when the memory is not there,
// std::system_error when a thread cannot be started.
using ComputePi = PiResult (*)(int series, const RunSize& size, Report& report);
PiResult compute_digits(int series, const RunSize& size, Report& report);

// The part of a run that the dialogue and the command line share, once the
// result file is open: computes what o asks for with compute (tests put a
// faulty one in its place), reported to `to`, verifies it when o.verify, and
// completes the result file, whose name `shown` messages give.  The exit
// status: 0, or 1 after the reason went to the report or standard error; on
// failure the result file is discarded and the earlier one stays.
int compute_and_write(const Options& o, const RunSize& size, ComputePi compute, ReportTo to,
                      const std::string& shown);

// The dialogue: set-up, run and result file; the exit status.
int run_dialogue(ComputePi compute);

// Sets the thread count from DRMPI_THREADS when it holds a whole number from
// 1 to MaxThreads; any other value gets a warning on standard error naming
// it, and the count stays the default.
void threads_from_environment();
inline constexpr int MaxThreads = 1024;

// drmpi [options] DIGITS: the exit status, 0, 1 for a failed run, 2 for a
// usage error.
int run_command_line(int argc, char** argv);

// The run that the options describe, o.digits within the largest run, with
// compute making the computations (tests put a faulty one in its place).
// The exit status.
int run_command(const Options& o, ComputePi compute);

}  // namespace drmpi

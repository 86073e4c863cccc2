// Driver and dialogue: the console, the result file, the run set-up, the DRM
// driver with the final assembly of pi, and the result report.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>

#include "mp/mp.h"
#include "series/series.h"

namespace drmpi {

// One method family of the set-up menu.  The file-name template has its '?'
// at character 7, where the series ID digit goes.
struct MethodFamily {
    const char* id_prompt;  // blank-filled to 28 characters
    const char* menu;       // blank-filled to 51 characters
    const char* file_template;
    const char* title;
    int largest_id;
};

inline constexpr MethodFamily MethodTable[4] = {
    {" Type In ID, (ID=1,2,3,4,5) ", " 1;Machin, 2;Gauss, 3;Klingen., 4;Stoemer, 5;Takano",
     "AtanORG?.txt", "Atan Original", 5},
    {" Type In ID, (ID=1)         ", " 1;Gauss-Legendre (Now Only)                       ",
     "AGM-2nd?.txt", "AGM Gauss-Legendre", 1},
    {" Type In ID, (ID=1,2,3,4,5) ", " 1;Machin, 2;Gauss, 3;Klingen., 4;Stoemer, 5;Takano",
     "AtanDRM?.txt", "DRM with Atan", 5},
    {" Type In ID, (ID=1,2,3)     ", " 1;Chudnovsky, 2;Fast-Ramanujan 3;Free-Sqrt        ",
     "RamnDRM?.txt", "DRM with Ramanujan", 3},
};

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
// and SIGPIPE is ignored (a vanished reader becomes a write error).
void console_init();

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
// permissions.  A target that is not a regular file (a device, say) is
// opened and written directly.  Returns 0, or the errno of the failure.
// Until the commit, any exit or SIGHUP, SIGINT, SIGQUIT or SIGTERM removes the
// temporary file and leaves the target as it was.
int result_file_open(const char* name);

// Completes the file: flush, sync, close, and rename over the target.  On a
// failure prints " ** Error Stop ** cannot write NAME: reason " on the console,
// removes the temporary file and returns 1; otherwise returns 0.
int result_file_commit();

// Writes one line to the console, then the same line to ResultFile.
void print_both(const char* format, ...) __attribute__((format(printf, 1, 2)));

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
    int fmt_size;
    int word_count;
    int digits_per_word;
};

// Asks for the series ID, prepares its result file, asks for N, sizes the run
// and writes the header lines.  Ends the program with status 1 when the FMT
// size exceeds capacity, when N is below 1, when the file cannot be created
// or when the input ends; the result file is then left as it was.
RunSetup setup_run(int family, int capacity);

// ------------------------------------------------------ DRM driver (drm.cpp) --

// The storage of a run of FMT size n, allocated once and zeroed: the numbers
// P, Q, T, A and S (n + 1 words each), the product P S (2n + 1 words), and one
// area that the merges, the product P S and the Newton operations use in
// turn.  Throws std::bad_alloc when the memory is not there.
class Workspace {
  public:
    explicit Workspace(int n);
    // Doubles that a Workspace of FMT size n allocates.
    static int64_t doubles(int n);

    int n;
    double* p;
    double* q;
    double* t;
    double* a;
    double* sum;
    double* b;
    double* area;
    StepArrays step() const { return {p, q, t, area}; }

  private:
    Doubles storage_;
};

// Milliseconds of elapsed real time since the program started.
int clock_ms();

// Number of DRM steps that cover the terms needed for word_count words.
int drm_step_count(int series, int word_count, int fmt_size, int digits_per_word);

// Called after each DRM step with its number, from 1, and its time in seconds.
using StepReport = std::function<void(int step, double seconds)>;

// Evaluates the series in the given number of DRM steps, from the last chunk
// of n/8 terms to the first, folding each into w.sum: S := (T + P S)/Q.
// Returns the largest rounding error of all products.
double drm_sum(int series, int steps, const Workspace& w, const StepReport& report);

// Replaces the folded sum S in w.sum by pi, at n words.  Returns the largest
// rounding error of its products.
double compute_pi(int series, const Workspace& w);

// ---------------------------------------------------------- report (report.cpp) --

// Converts pi (in pi[0..n], exponent 1) to non-negative words and writes the
// total time, the rounding error and the digits in numbered lines of 80.
void report_result(double* pi, int word_count, int digits_per_word, int start_time,
                   double max_error);

// Whether a finished run may be written: its largest rounding error is at
// most ErrorLimit (a NaN is not) and pi, as report_result leaves it, has
// the integer part 3.
bool result_sound(const double* pi, double max_error);

}  // namespace drmpi

// Driver and dialogue: the run set-up, the DRM driver with the final assembly
// of pi, and the result report.
#pragma once

#include <cstdio>

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

// The output file, opened by setup_run and never closed before the end.
extern FILE* ResultFile;

// Running maximum of every rounding error of the run.
extern double MaxError;

// Milliseconds of elapsed real time since the program started.
int clock_ms();

// Writes one line to the console, then the same line to ResultFile.
void print_both(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Sets Radix and CarryMode, asks for the series ID, creates the output file,
// asks for N, sizes the run and writes the header lines.  Returns the 0-based
// series ID and delivers the FMT size, the word count and the digits per word.
// Ends the program with status 1 when the FMT size exceeds capacity, when N
// is below 1, when the file cannot be created or when the input ends.
int setup_run(int family, int capacity, int* fmt_size, int* word_count,
              int* digits_per_word);

// Number of DRM steps that cover the terms needed for word_count words.
int drm_step_count(int series, int word_count, int fmt_size, int digits_per_word);

// Evaluates the series in the given number of DRM steps, from the last chunk
// of n/8 terms to the first, folding each into ArraySum: S := (T + P S)/Q.
// Prints one console line per step and raises MaxError.
void drm_sum(int series, int n, int steps);

// Replaces the folded sum S in ArraySum by pi, at n words; raises MaxError.
void compute_pi(int series, int n);

// Converts pi (in pi[0..n], exponent 1) to non-negative words and writes the
// total time, the rounding error and the digits in numbered lines of 80.
void report_result(double* pi, int word_count, int digits_per_word, int start_time,
                   double max_error);

// Flushes the output file; on a write error prints a message naming the file
// and returns 1, otherwise returns 0.
int finish_result_file();

}  // namespace drmpi

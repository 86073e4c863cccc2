// The DRM driver: the storage of a run, its steps, the fold of every chunk
// into the running sum, and the final assembly of pi.
#pragma once

#include <cstdint>

#include "mp/mp.h"
#include "mp/parallel.h"
#include "series/series.h"

namespace drmpi {

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

class Report;

// From this FMT size on a run takes every thread it may; below, its products
// and merges keep to one: they are too short for the hand-offs between
// threads to pay (it may still make two steps at once, run_lanes).  On a
// virtual machine whose processors its host shares, a thread that waits for
// one the host has set aside waits for milliseconds: runs of 10^5 and 2.4 *
// 10^5 digits (FMT sizes 2^15 and 3 * 2^14) took a median of 1.8 and 1.25
// times as long on two threads as on one, and varied threefold, where runs
// of 3 * 10^5 digits (2^16) took 0.82.
inline constexpr int ThreadedMin = 1 << 16;

// The threads that a run of FMT size n takes, `threads` being in effect.
inline int run_threads(int n, int threads) { return n < ThreadedMin ? 1 : threads; }

// The lanes of a run of FMT size n, `threads` being in effect: 2 where it
// keeps its products to one thread (below ThreadedMin) but may take two, else
// 1.  Each lane has its own numbers and area, so that two threads make the
// product trees of two DRM steps at once, and the square root of the final
// assembly beside them, meeting only where each step's fold waits for the
// one before (drm_sum): a few hand-offs in a run, not thousands.  Runs of
// 10^4 and 10^5 digits took 0.89 and 0.75 of the time of one lane.
inline int run_lanes(int n, int threads) { return n < ThreadedMin && threads >= 2 ? 2 : 1; }

// The width of the product tree of a DRM step in a run of FMT size n (2^k or
// 3 * 2^k): the largest power of two within n.  A step covers step_width(n)/8
// terms, whose P, Q and T fill that many words of numbers of n words.
inline int step_width(int n) { return 1 << ilog2(n); }

// The FMT sizes from which a run gives its workspace back before it makes its
// digits.  Below, the digits take less than 1.3 MB, and giving the pages back
// (0.1 ms and more) would only lower the peak, not save time: the digits are
// written to fresh pages either way.
inline constexpr int ReleaseMin = 1 << 18;

// The storage of a run of FMT size n, allocated once and zeroed: the numbers
// Q, P and T of a step, step_width(n) + 1 words each, and the running
// fraction's D (in a) and N (in sum), n + 1 words each packed as 32-bit
// integers (mp_pack) between the folds, in that order, and one area that the
// merges, the products of the folds and the final assembly use in turn (Q, P
// and T, lying together, hold the numbers of its Newton operations, and pi).
// With two lanes (run_lanes), a second Q, P and T and area follow, where the
// steps of the other lane and the square root of the final assembly are made.
// The pages that a run touches are faulted in at once, on every thread, but
// for those of lane 1, which fault_in_second_lane faults in.
// Throws std::bad_alloc when the memory is not there.
class Workspace {
  public:
    explicit Workspace(int n, int lanes = 1);
    // Doubles that a Workspace of FMT size n with that many lanes allocates.
    static int64_t doubles(int n, int lanes = 1);

    // Gives back the memory of all but w.pi, once pi is there, when n is
    // ReleaseMin or more: what a run allocates next (its digits) then takes
    // its place.
    void release_all_but_pi() const;

    // Faults in the pages of lane 1, where there is one.
    void fault_in_second_lane() const;

    int n;
    int lanes;
    double* p;
    double* q;
    double* t;
    int32_t* a;
    int32_t* sum;
    double* area;
    double* pi;  // where compute_pi leaves pi, in Q's place: n + 1 words
    // The numbers and area of lane 0 (p, q, t, area) or lane 1.
    StepArrays step(int lane = 0) const { return lane == 0 ? StepArrays{p, q, t, area} : second_; }

  private:
    StepArrays second_{};
    Doubles storage_;
};

// Milliseconds of elapsed real time since the program started.
int clock_ms();

// Number of DRM steps that cover the terms needed for word_count words.
int drm_step_count(int series, int word_count, int fmt_size);

// The words beyond a run's word count that its sum of terms is exact to.
inline constexpr int TailWords = 2;

// The terms k = 1 .. K that a run of word_count words sums: with them the
// tail of the series lies below 3 Radix^-(word_count + TailWords) of the sum,
// the term k being below 3 ConvergenceBase^-k of it (2.9 at k = 1, less after).
// At most the terms that its drm_step_count steps cover, and more than those of
// all steps but one.
int64_t drm_term_count(int series, int word_count, int fmt_size);

// Evaluates the terms k = 1 .. terms in the given number of DRM steps, from
// the last chunk to the first, each of step_width(n)/8 terms but the last,
// which ends at k = terms; folds each into the fraction N/D of w.sum and w.a:
// N/D := (T D + P N) / (Q D), which is (T + P S)/Q for S = N/D.  Tells report
// of each chunk merged and folded, and each step done, in order.  With two
// lanes, two threads make the chunks' product trees two at a time, and the
// square root of compute_pi beside them, into lane 1.  Returns the largest
// rounding error of all products.  The plans up to w.n are built on first use
// unless fft_prepare has built them.
double drm_sum(int series, int steps, int64_t terms, const Workspace& w, Report& report);

// Turns the folded sum N/D in w.sum and w.a into pi in w.pi, at n words, after
// drm_sum (whose root it takes where w has two lanes).  Returns the largest
// rounding error of its products.
double compute_pi(int series, const Workspace& w);

}  // namespace drmpi

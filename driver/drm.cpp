// The DRM driver: the storage of a run, the step count, the fold of every
// chunk into the running sum, and the final assembly of pi.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <limits>
#include <utility>

#include <immintrin.h>

#include "driver/drm.h"
#include "driver/report.h"
#include "mp/check.h"
#include "mp/mp.h"
#include "mp/parallel.h"
#include "series/series.h"

namespace drmpi {

namespace {

const auto ProgramStart = std::chrono::steady_clock::now();

// n + 1 words and more, to a multiple of eight doubles (64 bytes).
int64_t rounded(int64_t words) { return round_up8(words + 1); }

// The area of a fold: the spectrum of one factor, over which the product's
// 2n + 1 words are written, then the work of the product, which starts with
// the other factor's spectrum as its accumulator and ends with the rest that
// only a product made again from digits touches.  The Newton operations of
// the final assembly and its last product lay it out alike, and the merges'
// spectra come first too, so that all of them touch the same pages.
int64_t spectra_at(int n) { return 2 * rounded(n); }
int64_t fold_size(int n) { return spectra_at(n) + fft_product_work(n); }

int64_t area_size(int n) { return std::max(drm_step_area(step_width(n)), fold_size(n)); }

// The words of the MpNumber x of n words up to its last non-zero one.
int used_words(WordsView x, int n) {
    while (n > 0 && x[n] == 0) --n;
    return n;
}

// MpNumber {w.area, n} := the n leading words of x y, of MpNumbers of n words
// (either packed), laid out as a fold's product: x's spectrum at the start of
// the area, where the product's words take its place, then that of y's first
// y_count words (0 for all n), the product's accumulator.  It is made at the
// length that holds both factors' words (short_product_length), whose
// product holds theirs: the numbers of a short last chunk, and P, fill half
// to four fifths of theirs.  Returns its rounding error.
double area_product(WordsView x, WordsView y, int y_count, int n, double* area) {
    const int uy = used_words(y, y_count == 0 ? n : y_count);
    const int len = short_product_length(std::max(used_words(x, n), uy), n);
    const int count = y_count < len ? y_count : 0;
    double* const sy = area + spectra_at(n);
    fft_spectrum(x + 1, len, area);
    fft_spectrum(y + 1, len, sy, count);
    return mp_product(x, area, y, sy, len, area, sy, count);
}

// The doubles of P, Q and T, each, and of D and N, each, packed.
int64_t step_number(int n) { return rounded(step_width(n)); }
int64_t packed_number(int n) { return round_up8(n / 2 + 1); }

// The places of the final assembly in Q, P and T: its quotient, numerator
// and pi (r), the residual of its Newton operations (u), and D, packed, while
// the denominator lies in D's and N's places.
int64_t final_numbers(int n) { return rounded(n) + newton_residual_size(n) + packed_number(n); }

// The doubles of Q, P and T together, and of all the numbers.
int64_t step_numbers(int n) { return std::max(3 * step_number(n), final_numbers(n)); }
int64_t numbers_size(int n) { return step_numbers(n) + 2 * packed_number(n); }

// The doubles from the start of a workspace that a run touches: all but the
// rest of a long product's work at the end of the fold's area, which only a
// product made again from digits touches.
int64_t touched_size(int n) {
    const int64_t rest = fft_product_work(n) - fft_spectrum_size(n);
    return numbers_size(n) + std::max(drm_step_area(step_width(n)), fold_size(n) - rest);
}

// The doubles of a lane beyond the first: its own Q, P and T, and area.
int64_t lane_size(int n) { return step_numbers(n) + area_size(n); }

}  // namespace

int64_t Workspace::doubles(int n, int lanes) {
    return numbers_size(n) + area_size(n) + (lanes - 1) * lane_size(n);
}

Workspace::Workspace(int size, int lane_count)
    : n(size), lanes(lane_count), storage_(allocate_doubles(doubles(size, lane_count))) {
    DRMPI_ASSERT(n >= 8 && newton_length(n) && (lanes == 1 || lanes == 2));
    q = storage_.get();
    p = q + step_number(n);
    t = p + step_number(n);
    a = reinterpret_cast<int32_t*>(q + step_numbers(n));
    sum = a + 2 * packed_number(n);
    area = q + numbers_size(n);
    pi = q;
    if (lanes == 2) {
        double* const q2 = area + area_size(n);
        second_ = {q2 + step_number(n), q2, q2 + 2 * step_number(n), q2 + step_numbers(n)};
    }
    // P and T, one after the other, hold a number of n words once a fold has
    // spent them; D's and N's places the denominator of the final assembly;
    // the area a Newton operation's spectra.
    DRMPI_ASSERT(2 * step_number(n) > n && 2 * packed_number(n) >= rounded(n) &&
                 newton_spectra_size(n) <= area_size(n));
    fault_in(storage_.get(), touched_size(n));
}

void Workspace::fault_in_second_lane() const {
    if (lanes == 2) fault_in(second_.q, lane_size(n));
}

void Workspace::release_all_but_pi() const {
    if (n < ReleaseMin) return;
    release(pi + rounded(n), storage_.get() + doubles(n, lanes) - (pi + rounded(n)));
}

int clock_ms() {
    const auto elapsed = std::chrono::steady_clock::now() - ProgramStart;
    return static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
}

int drm_step_count(int series, int word_count, int fmt_size) {
    // The terms needed, word_count * 5 / log10(base), over the terms of a
    // step, plus one: the steps always cover more terms than needed.
    const double terms = DigitsPerWord * 8.0 * word_count *
                         (std::log(10.0) / std::log(ConvergenceBase[series]));
    return static_cast<int32_t>(terms / step_width(fmt_size) + 1.0);
}

int64_t drm_term_count(int series, int word_count, int fmt_size) {
    const int steps = drm_step_count(series, word_count, fmt_size);
    const double digits = static_cast<double>(DigitsPerWord) * (word_count + TailWords);
    const auto needed = static_cast<int64_t>(
        std::ceil(digits * std::log(10.0) / std::log(ConvergenceBase[series])));
    return std::min(needed, static_cast<int64_t>(steps) * (step_width(fmt_size) / TermWords));
}

namespace {

// The fold of one chunk, whose P, Q and T (of step_width(n) words) are in c,
// into the running fraction N/D (w.sum, w.a): N/D := (T + P N/D) / Q =
// (T D + P N) / (Q D), each of N and D kept to n words; the first chunk's
// fraction is T/Q.  No division: three products, in the area of c's lane,
// where a quotient costs about four.  A product's words lie over the
// spectrum of N or D, then go to the place of a number spent: P N to N's, T D to P's and T's together, Q D
// to D's.  So D is transformed twice, for T D and for Q D: a ninth transform
// where two more numbers of 2n words would be held.  Returns the largest
// rounding error of its products.
double fold(const StepArrays& c, bool first, const Workspace& w) {
    const int n = w.n, width = step_width(n);
    if (first) {
        for (const auto& [from, to] : {std::pair{c.t, w.sum}, std::pair{c.q, w.a}}) {
            mp_pack(from, to, width + 1);
            std::fill(to + width + 1, to + n + 1, 0);
        }
        return 0.0;
    }
    double* const z = c.area;
    double err = area_product(w.sum, c.p, width, n, z);
    mp_pack(z, w.sum, n + 1);
    err = dmax(err, area_product(w.a, c.t, width, n, z));
    mp_copy(z, c.p, n + 1);
    err = dmax(err, area_product(w.a, c.q, width, n, z));
    mp_pack(z, w.a, n + 1);
    // N := T D + P N, by way of the area.
    double* const sum = z + rounded(n);
    mp_unpack(w.sum, z, n + 1);
    mp_add(c.p, z, sum, n, Sign::Plus);
    mp_pack(sum, w.sum, n + 1);
    return err;
}

// The chunks of a run, in the order drm_sum takes them (i = 1 .. steps, the
// last chunk first), and the place of each.
struct Chunks {
    int series, steps, width;
    int64_t terms;

    double first(int i) const {
        return static_cast<double>(static_cast<int64_t>(steps - i) * (width / TermWords) + 1);
    }
    int count(int i) const {
        const auto from = static_cast<int64_t>(first(i));
        return static_cast<int>(std::min<int64_t>(width / TermWords, terms - from + 1));
    }
    // The product tree of chunk i, in the lane given; returns its error.
    double merge(int i, const StepArrays& lane) const {
        return drm_step(series, width, first(i), count(i), lane);
    }
};

// The numerator's root of series, sqrt(f2), into lane 1's Q, P and T, with
// lane 1's area for its spectra; 0 where f2 is 1 and the root is not made.
// Returns its rounding error.
double lane_root(int series, const Workspace& w) {
    const int f2 = PiFactorTable[series][2];
    if (f2 == 1) return 0.0;
    const StepArrays c = w.step(1);
    return mp_sqrt_int(f2, c.q, w.n, Root::Sqrt, NewtonTemp{c.area, c.q + rounded(w.n)});
}

// What two lanes share while their threads make a run's steps: the next
// chunk to merge, the chunks folded, and whether the root is taken.  A
// thread waits only for a fold: before a chunk's fold, for the one before
// it, and before it merges a chunk into a lane, for the fold of the lane's
// last chunk.  When one thread fails, the other stops at its next wait.
class TwoLanes {
  public:
    // Returns once chunks 1 .. i are folded (at once for i <= 0); throws
    // Abandoned when the other thread has failed.  It polls for up to
    // SpinTime before it sleeps: a thread woken from sleep here ran 0.05 to
    // 0.5 ms later, and most waits are shorter.
    void await_folded(int i) {
        constexpr auto SpinTime = std::chrono::milliseconds(2);
        const auto until = std::chrono::steady_clock::now() + SpinTime;
        for (int seen; (seen = folded_.load(std::memory_order_acquire)) < i;) {
            if (failed_.load()) throw Abandoned{};
            if (std::chrono::steady_clock::now() < until) {
                for (int k = 0; k < 64 && folded_.load(std::memory_order_relaxed) == seen; ++k)
                    _mm_pause();
            } else {
                folded_.wait(seen);
            }
        }
        if (failed_.load()) throw Abandoned{};
    }
    void folded(int i) {
        folded_.store(i, std::memory_order_release);
        folded_.notify_all();
    }
    void fail() {
        failed_.store(true);
        folded_.store(std::numeric_limits<int>::max());
        folded_.notify_all();
    }
    int take_chunk() { return next_.fetch_add(1); }
    bool take_root() { return !root_taken_.exchange(true); }

    struct Abandoned {};

  private:
    std::atomic<int> next_{1}, folded_{0};
    std::atomic<bool> failed_{false}, root_taken_{false};
};

}  // namespace

double drm_sum(int series, int steps, int64_t terms, const Workspace& w, Report& report) {
    const Chunks chunks{series, steps, step_width(w.n), terms};
    int step_time = clock_ms();
    // Folds chunk i, merged in lane c, and reports it; its error.
    const auto fold_and_report = [&](int i, const StepArrays& c) {
        report.merged();
        const double err = fold(c, i == 1, w);
        report.folded();
        const int now = clock_ms();
        report.step(i, (now - step_time) / 1000.0);
        step_time = now;
        return err;
    };
    if (w.lanes == 1) {
        double err = 0.0;
        for (int i = 1; i <= steps; ++i) {
            err = dmax(err, chunks.merge(i, w.step()));
            err = dmax(err, fold_and_report(i, w.step()));
        }
        return err;
    }
    // Two threads take the chunks in turn, chunk i in lane (steps - i) % 2,
    // so that the last one lies in lane 0, where the final assembly follows;
    // each folds the chunk it merged once the one before is folded.  Lane 1
    // is free once chunk steps - 1 is folded: the root goes there, made by
    // the thread that finds no chunk left first.  Lane 1's pages are faulted
    // in by the second task, off the first one's path.  Should a thread not
    // start, the other does all of it: it never waits for work that it has
    // left.
    TwoLanes order;
    double errs[2] = {0.0, 0.0};
    const ThreadCountScope two(2);
    parallel_for(2, [&](int task, int) {
        try {
            if (task == 1) w.fault_in_second_lane();
            double err = 0.0;
            for (int i; (i = order.take_chunk()) <= steps;) {
                const StepArrays c = w.step((steps - i) % 2);
                order.await_folded(i - 2);
                err = dmax(err, chunks.merge(i, c));
                order.await_folded(i - 1);
                err = dmax(err, fold_and_report(i, c));
                order.folded(i);
            }
            if (order.take_root()) {
                order.await_folded(steps - 1);
                err = dmax(err, lane_root(series, w));
            }
            errs[task] = err;
        } catch (const TwoLanes::Abandoned&) {
        } catch (...) {
            order.fail();
            throw;
        }
    });
    return dmax(errs[0], errs[1]);
}

double compute_pi(int series, const Workspace& w) {
    const int n = w.n;
    const int* f = PiFactorTable[series];
    // pi = f0 f1 sqrt(f2) D / (f3 (f4 D + f5 N)), in the places of Q, P and
    // T, spent: r for the reciprocal of the denominator, then the numerator
    // and pi, u for the residual of the Newton operations, dp for D, packed,
    // while the denominator, then the quotient, lies in D's and N's places
    // (den); the spectra in the area.
    double* const r = w.q;
    double* const u = r + rounded(n);
    int32_t* const dp = reinterpret_cast<int32_t*>(u + newton_residual_size(n));
    double* const den = reinterpret_cast<double*>(w.a);
    const NewtonTemp temp{w.area, u};
    // f3 (f4 D + f5 N), by way of the area.
    double* const s = w.area;
    double* const sd = w.area + rounded(n);
    mp_unpack(w.sum, s, n + 1);
    mp_mul_int(s, f[5], s, n);
    mp_unpack(w.a, sd, n + 1);
    mp_mul_int(sd, f[4], sd, n);
    mp_add(sd, s, r, n, Sign::Plus);
    std::copy(w.a, w.a + n + 1, dp);
    mp_mul_int(r, f[3], den, n);
    // D over it, as the reciprocal times D.
    double err = mp_reciprocal(den, r, n, temp);
    err = dmax(err, area_product(r, dp, 0, n, w.area));
    mp_copy(w.area, den, n + 1);
    // the numerator f0 f1 sqrt(f2), whose root drm_sum has made in lane 1
    // where there is one
    if (f[2] == 1) {
        mp_set_small(1, r, n);
    } else if (w.lanes == 2) {
        mp_copy(w.step(1).q, r, n + 1);
    } else {
        err = dmax(err, mp_sqrt_int(f[2], r, n, Root::Sqrt, temp));
    }
    mp_mul_int(r, f[0], r, n);
    mp_mul_int(r, f[1], r, n);
    // pi := the numerator times the quotient, to n words.
    err = dmax(err, area_product(r, den, 0, n, w.area));
    mp_copy(w.area, w.pi, n + 1);
    return err;
}

}  // namespace drmpi

// The DRM driver: the storage of a run, the step count, the fold of every
// chunk into the running sum, and the final assembly of pi.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>

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

// The area of a fold: the products T D, Q D and P N of 2n + 1 words each,
// two at a time, then the scratch of one product.  The Newton operations of
// the final assembly use it after: their two numbers of 2n + 1 words come
// first as well, so that both touch the same pages.
int64_t scratch_at(int n) { return 2 * rounded(2 * n); }
int64_t fold_size(int n) {
    return std::max(scratch_at(n) + fft_multiply_work(n), newton_temp_size(n));
}

int64_t area_size(int n) { return std::max(drm_step_area(n), fold_size(n)); }

// The storage that pipelining adds: the second P, Q and T, and the fold's
// own area for its product and division.
int64_t pipeline_size(int n) { return 3 * rounded(n) + fold_size(n); }

}  // namespace

int64_t Workspace::doubles(int n, int threads) {
    return 5 * rounded(n) + area_size(n) +
           (pipelined(n, threads) ? pipeline_size(n) : 0);
}

Workspace::Workspace(int size, int threads)
    : n(size), storage_(allocate_doubles(doubles(size, threads))) {
    DRMPI_ASSERT(n >= 8 && power_of_two(n));
    double* next = storage_.get();
    for (double** x : {&p, &q, &t, &a, &sum}) {
        *x = next;
        next += rounded(n);
    }
    area = next;
    if (pipelined(n, threads)) {
        p2 = area + area_size(n);
        q2 = p2 + rounded(n);
        t2 = q2 + rounded(n);
        fold_area = t2 + rounded(n);
    }
}

int clock_ms() {
    const auto elapsed = std::chrono::steady_clock::now() - ProgramStart;
    return static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
}

int drm_step_count(int series, int word_count, int fmt_size) {
    // The terms needed, word_count * 5 / log10(base), over the n/8 terms of a
    // step, plus one: the steps always cover more terms than needed.
    const double terms = DigitsPerWord * 8.0 * word_count *
                         (std::log(10.0) / std::log(ConvergenceBase[series]));
    return static_cast<int32_t>(terms / fmt_size + 1.0);
}

namespace {

// The fold of one chunk, whose P, Q and T are in c, into the running fraction
// N/D (w.sum, w.a): N/D := (T + P N/D) / Q = (T D + P N) / (Q D), each of N and
// D kept to n words; the first chunk's fraction is T/Q.  No division: three
// products, where a quotient costs about four.  Uses the area given.
// Returns the largest rounding error of its products.
double fold(const StepArrays& c, bool first, const Workspace& w, double* area) {
    const int n = w.n;
    if (first) {
        mp_copy(c.t, w.sum, n + 1);
        mp_copy(c.q, w.a, n + 1);
        return 0.0;
    }
    // D is transformed once for T D and Q D; the spectrum of T, then of Q, is
    // the product's work.
    double* const x = area;
    double* const y = area + rounded(2 * n);
    double* const work = area + scratch_at(n);
    double* const sd = work;
    double* const s2 = work + fft_spectrum_size(n);
    fft_spectrum(w.a + 1, n, sd);
    fft_spectrum(c.t + 1, n, s2);
    double err = mp_product(w.a, sd, c.t, s2, n, x, s2);
    fft_spectrum(c.q + 1, n, s2);
    err = dmax(err, mp_product(w.a, sd, c.q, s2, n, y, s2));
    mp_copy(y, w.a, n + 1);
    err = dmax(err, mp_mul(c.p, w.sum, y, n, work));
    mp_add(x, y, w.sum, n, Sign::Plus);
    return err;
}

}  // namespace

bool drm_pipelined(int n, int steps) { return steps >= 2 && pipelined(n, thread_count()); }

double drm_sum(int series, int steps, const Workspace& w, Report& report) {
    const int n = w.n;
    const int per_step = n / TermWords;
    const auto first_term = [&](int i) { return static_cast<double>(steps - i) * per_step + 1.0; };
    const auto merge = [&](int i, const StepArrays& set) {
        const double err = drm_step(series, n, first_term(i), set);
        report.merged();
        return err;
    };
    const auto fold_chunk = [&](int i, const StepArrays& set, double* area) {
        const double err = fold(set, i == 1, w, area);
        report.folded();
        return err;
    };
    double err = 0.0;
    if (w.p2 == nullptr || !drm_pipelined(n, steps)) {
        for (int i = 1; i <= steps; ++i) {
            const int step_time = clock_ms();
            err = dmax(err, merge(i, w.step()));
            err = dmax(err, fold_chunk(i, w.step(), w.area));
            report.step(i, (clock_ms() - step_time) / 1000.0);
        }
        return err;
    }
    // Pipelined: the fold of a chunk, whose division is one long chain of
    // products, runs on the side thread beside the merge of the next
    // chunk, which shares its work among the pool; the chunks alternate
    // between two sets of P, Q and T.  The same operations on the same words
    // either way, so the same result.
    const StepArrays sets[2] = {w.step(), {w.p2, w.q2, w.t2, w.area}};
    int step_time = clock_ms();
    err = merge(1, sets[0]);
    for (int i = 1; i <= steps; ++i) {
        double fold_err = 0.0;
        parallel_beside([&] { fold_err = fold_chunk(i, sets[(i - 1) % 2], w.fold_area); },
                        [&] {
                            if (i < steps) err = dmax(err, merge(i + 1, sets[i % 2]));
                        });
        err = dmax(err, fold_err);
        const int now = clock_ms();
        report.step(i, (now - step_time) / 1000.0);
        step_time = now;
    }
    return err;
}

double compute_pi(int series, const Workspace& w) {
    const int n = w.n;
    const int* f = PiFactorTable[series];
    // pi = f0 f1 sqrt(f2) D / (f3 (f4 D + f5 N)).  The square root of the
    // numerator and D over the denominator do not depend on each other: where
    // the fold has an area of its own (a pipelined run) they run at once, one
    // in each area.
    double errs[2] = {0.0, 0.0};
    const auto part = [&](int i, double* temp) {
        if (i == 0) {
            // sqrt(f2) into w.q, then the numerator f0 f1 sqrt(f2) into w.q
            if (f[2] == 1) {
                mp_set_small(1, w.q, n);
            } else {
                errs[0] = mp_sqrt_int(f[2], w.q, n, Root::Sqrt, temp);
            }
            mp_mul_int(w.q, f[0], w.p, n);
            mp_mul_int(w.p, f[1], w.q, n);
        } else {
            // f3 (f4 D + f5 N) into w.sum, by way of the start of temp, and
            // D over it into w.t.
            mp_mul_int(w.sum, f[5], w.t, n);
            mp_mul_int(w.a, f[4], w.sum, n);
            mp_add(w.sum, w.t, temp, n, Sign::Plus);
            mp_mul_int(temp, f[3], w.sum, n);
            errs[1] = mp_divide(w.a, w.sum, w.t, n, temp);
        }
    };
    if (w.fold_area != nullptr) {
        parallel_for(2, [&](int i, int) { part(i, i == 0 ? w.area : w.fold_area); });
    } else {
        part(0, w.area);
        part(1, w.area);
    }
    // pi := the numerator times D over the denominator, to n words.
    const double err = mp_mul(w.q, w.t, w.area, n, w.area + scratch_at(n));
    mp_copy(w.area, w.sum, n + 1);
    return dmax3(errs[0], errs[1], err);
}

}  // namespace drmpi

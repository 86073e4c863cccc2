// The product tree of a chunk: neighbouring blocks are merged pairwise, level
// by level, until each of P, Q and T holds one FMT-size integer.
//
// A block covering m terms has 8m words, room for 40m decimal digits, while
// P < 10^(18m), Q < 10^(32m) and |T| < m 10^(14 + 32(m-1)): every product of
// two blocks is a complete integer of twice their width and the sum for T
// never carries out of it.  Operand words are balanced, so each convolution
// sum of a product stays below w * 50000^2, and the sum of the two products
// for T below twice that: within 2^53 up to w = 2^17, and beyond it a product
// whose outputs would round wrong is made again from split digits.
//
// Each pair transforms its six blocks once and makes three products from the
// spectra: P_L P_R, Q_L Q_R and P_L T_R + Q_R T_L, the last summed before its
// one inverse transform; 9 transforms instead of the 12 of four products.
// The merged blocks are written over the pair's own blocks, whose words the
// spectra have already taken; beyond SplitMin by way of scratch, since a
// product made again from digits reads the words once more.
#include <algorithm>
#include <atomic>

#include "mp/mp.h"
#include "mp/parallel.h"
#include "series/series.h"

namespace drmpi {

namespace {

// A pair's storage in an area: the six spectra of its blocks, then the
// scratch of up to three products, each, beyond SplitMin, room for its 2w
// words (there a product may not be written over the blocks that it reads,
// and is copied there once made), then its work.
struct PairArea {
    double* spectra[6];  // P_L, P_R, Q_L, Q_R, T_L, T_R
    double* scratch[3];
};

int64_t product_scratch(int w) {
    return fft_product_work(w) + (w > SplitMin ? 2 * static_cast<int64_t>(w) : 0);
}

int64_t pair_area_size(int w, int products) {
    return 6 * fft_spectrum_size(w) + products * product_scratch(w);
}

PairArea carve(double* area, int w) {
    PairArea pa;
    for (int i = 0; i < 6; ++i) pa.spectra[i] = area + i * fft_spectrum_size(w);
    for (int i = 0; i < 3; ++i)
        pa.scratch[i] = area + 6 * fft_spectrum_size(w) + i * product_scratch(w);
    return pa;
}

// Block i of the pair at word b: P_L, P_R, Q_L, Q_R, T_L, T_R.
const double* block(const StepArrays& a, int b, int w, int i) {
    double* const arrays[3] = {a.p, a.q, a.t};
    return arrays[i / 2] + b + (i % 2) * w;
}

// Product i of the pair at word b into its merged block: 0 T, 1 P, 2 Q.
// scratch: product_scratch(w) doubles, beyond SplitMin the product's words
// first, then its work, whose part that only a product made again from
// digits touches comes last, as in the Newton operations that use the same
// area after: the pages that neither touches stay unfaulted.
double pair_product(const StepArrays& a, int b, int w, const PairArea& pa, int i,
                    double* scratch) {
    const auto f = [&](int k) { return Factor{block(a, b, w, k), pa.spectra[k]}; };
    double* const merged = (i == 0 ? a.t : i == 1 ? a.p : a.q) + b;
    double* const out = w > SplitMin ? scratch : merged;
    double* const work = w > SplitMin ? scratch + 2 * static_cast<int64_t>(w) : scratch;
    const double err = i == 0   ? fft_product_sum(f(0), f(5), f(3), f(4), w, out, work)
                       : i == 1 ? fft_product(f(0), f(1), w, out, work)
                                : fft_product(f(2), f(3), w, out, work);
    if (out != merged) mp_copy(out, merged, 2 * w);
    return err;
}

// The whole pair at word b on one thread.
double merge_pair(const StepArrays& a, int b, int w, double* area) {
    const PairArea pa = carve(area, w);
    for (int i = 0; i < 6; ++i) fft_spectrum(block(a, b, w, i), w, pa.spectra[i]);
    double err = 0.0;
    for (int i = 0; i < 3; ++i) err = dmax(err, pair_product(a, b, w, pa, i, pa.scratch[0]));
    return err;
}

// Products of a single pair that run at once, each with its own scratch:
// beyond SplitMin they run one after another, each sharing its transforms
// among the threads, in one scratch.
int shared_products(int w) { return w > SplitMin ? 1 : 3; }

// One pair with its transforms, then its products, shared among the threads.
double merge_pair_shared(const StepArrays& a, int b, int w) {
    const PairArea pa = carve(a.area, w);
    parallel_for(6, [&](int i, int) { fft_spectrum(block(a, b, w, i), w, pa.spectra[i]); });
    double errs[3];
    if (shared_products(w) == 1) {
        for (int i = 0; i < 3; ++i) errs[i] = pair_product(a, b, w, pa, i, pa.scratch[0]);
    } else {
        parallel_for(3, [&](int i, int) { errs[i] = pair_product(a, b, w, pa, i, pa.scratch[i]); });
    }
    return dmax3(errs[0], errs[1], errs[2]);
}

}  // namespace

int64_t drm_step_area(int n) {
    // A level of pairs at width w on min(threads, pairs) threads uses at most
    // pairs areas of one pair each; the last level, one pair, one area with
    // the scratch of its three products at once.
    const int top = std::max(n / 2, 1);
    int64_t size = pair_area_size(top, shared_products(top));
    for (int w = TermWords; w <= n / 4; w *= 2)
        size = std::max(size, (n / (2 * w)) * pair_area_size(w, 1));
    return size;
}

double merge_level(int w, int pairs, const StepArrays& a) {
    if (pairs == 1) return merge_pair_shared(a, 1, w);
    // Runs of neighbouring pairs, a few for each thread, so that two threads
    // never write next to each other, and the largest error of all pairs,
    // whichever thread made them and in whatever order.
    const int runs = imin(pairs, 4 * thread_count());
    std::atomic<double> err{0.0};
    const int64_t stride = pair_area_size(w, 1);
    parallel_for(runs, [&](int r, int t) {
        double e = 0.0;
        for (int i = r * pairs / runs; i < (r + 1) * pairs / runs; ++i)
            e = dmax(e, merge_pair(a, 1 + 2 * w * i, w, a.area + t * stride));
        for (double seen = err.load(); e > seen && !err.compare_exchange_weak(seen, e);) {
        }
    });
    return err.load();
}

double drm_step(int series, int n, double first, const StepArrays& a) {
    drm_terms(series, n, first, a);

    int pairs = n / (2 * TermWords);
    const int levels = ilog2(2 * pairs);
    double err = 0.0;
    int w = TermWords;
    for (int level = 0; level < levels; ++level) {
        err = dmax(err, merge_level(w, pairs, a));
        w *= 2;
        pairs /= 2;
    }
    mp_from_words(a.p, n);
    mp_from_words(a.q, n);
    mp_from_words(a.t, n);
    return err;
}

}  // namespace drmpi

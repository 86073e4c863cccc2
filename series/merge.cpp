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
// Each pair makes three products from the spectra of its six blocks, each
// block transformed once: P_L P_R, Q_L Q_R and P_L T_R + Q_R T_L, the last
// summed before its one inverse transform; 9 transforms instead of the 12 of
// four products, at the width or, where the blocks' words leave room, at 1/2
// or 3/4 of it (product_length_of).  The spectra of P_L and Q_R serve two
// products and stay; the others are made as their product needs them, so
// that four spectra are held at once and not six.  The merged blocks are
// written over the pair's own blocks, whose words the spectra have already
// taken; where a product may_split, by way of scratch, since a product made
// again from digits reads the words once more.
#include <algorithm>
#include <atomic>

#include "mp/check.h"
#include "mp/mp.h"
#include "mp/parallel.h"
#include "series/series.h"

namespace drmpi {

namespace {

// The blocks of a pair: P_L, P_R, Q_L, Q_R, T_L, T_R.
enum Block { PL, PR, QL, QR, TL, TR };

// A pair's storage in an area: four spectra of width w, then, where a product
// may_split, room for a product's 2w words (there a product may not be
// written over the blocks that it reads, and is copied there once made).
// Slots 0 and 1 hold the spectra of P_L and Q_R throughout; slots 2 and 3
// hold T_R and T_L for T, then P_R and Q_L.  Each product's accumulator is
// slot 2 (or 3), and where a product may_split the rest of its work is slot 3.
struct PairArea {
    double* slot[4];
    double* out;
};

int64_t pair_area_size(int w) {
    return 4 * fft_spectrum_size(w) + (may_split(w) ? 2 * static_cast<int64_t>(w) : 0);
}

PairArea carve(double* area, int w) {
    PairArea pa;
    for (int i = 0; i < 4; ++i) pa.slot[i] = area + i * fft_spectrum_size(w);
    pa.out = area + 4 * fft_spectrum_size(w);
    return pa;
}

// The length of the pair's products (short_product_length): the blocks of
// P, Q and T fill 40 to 70 % of their words in runs of 10^4 and 10^5 digits,
// whose products then take 1/2 or 3/4 of the time.  The length holds every
// factor's words from its first non-zero one on, and half of every
// product's; the rounding errors are those of a product of that length,
// whose convolution sums are bounded by those of length w.
int product_length_of(const double* const* block, int w) {
    if (w <= SchoolbookMax) return w;
    int u[6];
    for (int k = 0; k < 6; ++k) u[k] = w - leading_zeros(block[k], w);
    const int sums = std::max({u[PL] + u[PR], u[QL] + u[QR], u[PL] + u[TR], u[QR] + u[TL]});
    return short_product_length(std::max({u[0], u[1], u[2], u[3], u[4], u[5], (sums + 1) / 2}), w);
}

// Merges the pair at word b, in the area given.  Its independent transforms
// and products run at once on the threads, unless it runs within a task.
double merge_pair(const StepArrays& a, int b, int w, double* area) {
    const PairArea pa = carve(area, w);
    double* const arrays[3] = {a.p, a.q, a.t};
    const auto block = [&](int k) { return arrays[k / 2] + b + (k % 2) * w; };
    const double* const blocks[6] = {block(0), block(1), block(2), block(3), block(4), block(5)};
    // The products' length, len <= w: each factor is the last len words of
    // its block, and each product fills the last 2 len words of its merged
    // block.
    const int len = product_length_of(blocks, w);
    const auto factor = [&](int k) { return block(k) + (w - len); };
    // A schoolbook product reads the words themselves as a factor's
    // "spectrum", with no copy: it writes over them only once it has read
    // them all, and T, made first, reads P_L before P's product takes its
    // place.
    const auto spectrum = [&](int k, int slot) {
        if (w <= SchoolbookMax) return Factor{block(k), block(k)};
        fft_spectrum(factor(k), len, pa.slot[slot]);
        return Factor{factor(k), pa.slot[slot]};
    };
    // A product into its merged block, which starts at block `first`: its
    // 2 len words last, zeros before them.
    const auto into = [&](int first, const auto& make) {
        double* const merged = block(first);
        double* const last = merged + 2 * (w - len);
        double* const out = may_split(w) ? pa.out : last;
        const double err = make(out);
        if (out != last) mp_copy(out, last, 2 * len);
        mp_fill(0, merged, 2 * (w - len));
        return err;
    };
    static constexpr int FirstFour[4] = {PL, QR, TR, TL};
    Factor f[4];
    // Schoolbook products have no transforms to share out: the jobs would
    // cost more than the work.
    const bool schoolbook = w <= SchoolbookMax;
    if (schoolbook) {
        for (int i = 0; i < 4; ++i) f[i] = spectrum(FirstFour[i], i);
    } else {
        parallel_for(4, [&](int i, int) { f[i] = spectrum(FirstFour[i], i); });
    }
    double errs[3];
    errs[0] = into(TL, [&](double* out) {
        return fft_product_sum(f[0], f[2], f[1], f[3], len, out, pa.slot[2]);
    });
    // P := P_L P_R and Q := Q_R Q_L: at once, P_R in slot 2 and Q_L in slot 3,
    // unless the products may_split; then one after the other in slot 2, slot
    // 3 being the rest of the work.
    const bool at_once = !may_split(w);
    const auto pq = [&](int i) {
        const int slot = at_once ? 2 + i : 2;
        const Factor y = spectrum(i == 0 ? PR : QL, slot);
        errs[1 + i] = into(i == 0 ? PL : QL, [&](double* out) {
            return fft_product(f[i], y, len, out, pa.slot[slot]);
        });
    };
    if (at_once && !schoolbook) {
        parallel_for(2, [&](int i, int) { pq(i); });
    } else {
        pq(0);
        pq(1);
    }
    return dmax3(errs[0], errs[1], errs[2]);
}

}  // namespace

int64_t drm_step_area(int n) {
    // A level of pairs at width w uses at most one pair's area for each of
    // its pairs, whatever the thread count.
    int64_t size = pair_area_size(TermWords);
    for (int w = TermWords; w <= n / 2; w *= 2)
        size = std::max(size, std::max(n / (2 * w), 1) * pair_area_size(w));
    return size;
}

double merge_level(int w, int pairs, const StepArrays& a) {
    if (pairs == 1) return merge_pair(a, 1, w, a.area);
    // Runs of neighbouring pairs, a few for each thread, so that two threads
    // never write next to each other, and the largest error of all pairs,
    // whichever thread made them and in whatever order.
    const int runs = imin(pairs, 4 * thread_count());
    std::atomic<double> err{0.0};
    const int64_t stride = pair_area_size(w);
    parallel_for(runs, [&](int r, int t) {
        double e = 0.0;
        for (int i = r * pairs / runs; i < (r + 1) * pairs / runs; ++i)
            e = dmax(e, merge_pair(a, 1 + 2 * w * i, w, a.area + t * stride));
        for (double seen = err.load(); e > seen && !err.compare_exchange_weak(seen, e);) {
        }
    });
    return err.load();
}

double drm_step(int series, int n, double first, int count, const StepArrays& a) {
    DRMPI_ASSERT(count >= 1 && count <= n / TermWords);
    drm_terms(series, count, first, a);
    // The blocks that hold terms at each level: pairs of them merge, and a
    // last one without a partner stands for its pair, as if the words after
    // it held the identity (P = Q = 1, T = 0): its words move to the pair's
    // second half, zeros before them.  No block beyond is ever read.
    double err = 0.0;
    int blocks = count;
    for (int w = TermWords; w < n; w *= 2) {
        err = dmax(err, merge_level(w, blocks / 2, a));
        if (blocks % 2 != 0) {
            const int b = 1 + (blocks - 1) * w;
            for (double* x : {a.p, a.q, a.t}) {
                mp_copy(x + b, x + b + w, w);
                mp_fill(0, x + b, w);
            }
        }
        blocks = (blocks + 1) / 2;
    }
    mp_from_words(a.p, n);
    mp_from_words(a.q, n);
    mp_from_words(a.t, n);
    return err;
}

}  // namespace drmpi

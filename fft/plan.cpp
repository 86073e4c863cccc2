// FFT plans: the tables of the transforms, each built once on first use and
// kept for the life of the process, shared by the lengths that use them, and
// the choice of the instruction set that runs the transforms.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <span>
#include <vector>

#include <sys/platform/x86.h>

#include "fft/kernel.h"
#include "mp/check.h"
#include "mp/parallel.h"

namespace drmpi {
namespace {

// The pass tables over 2^l points are whole up to 2^WholePassMax points,
// and split above (FftRoots in kernel.h).  Up to there the transforms run
// within the caches, where a split table's extra multiplications cost up to a
// third of a transform's time; beyond, the passes wait on memory, and the
// split tables, which leave the caches to the data, make them faster.  The
// weights are whole up to 2^WholeWeightsMax, the longest products of whole
// words, where the first pass forms four weights for each butterfly: split,
// they cost a forward transform of 2^18 points a quarter of its time.  All
// the whole tables together take 9.5 MB.
constexpr int WholePassMax = 16;
constexpr int WholeWeightsMax = 18;

constexpr long double HalfPi = 1.5707963267948966192313216916397514L;

// exp(2 pi i k/2^lg), any k and 0 <= lg <= 62, from cos_sin(t, q, &c, &s),
// the cos and sin of the angle (pi/2) t/q of the first octant (2t <= q), by
// exact symmetries.
template <class T, class F>
void octant_root(long k, int lg, T* re, T* im, const F& cos_sin) {
    if (lg < 3) {
        k *= 1L << (3 - lg);
        lg = 3;
    }
    const long quarter = 1L << (lg - 2);
    const long m = k & (4 * quarter - 1);
    long t = m & (quarter - 1);
    const bool swap = 2 * t > quarter;
    if (swap) t = quarter - t;
    T s, c;
    cos_sin(t, quarter, &c, &s);
    T x = swap ? s : c, y = swap ? c : s;
    for (long q = m / quarter; q > 0; --q) {  // times i
        const T u = x;
        x = -y;
        y = u;
    }
    *re = x;
    *im = y;
}

// The cos and sin of the first octant's angles (pi/2 to double) / Q times t,
// t = 0 .. Q/2, in turn, for one quarter Q: the angle of t at a quarter q
// that divides Q is that of t Q/q at Q, both the one rounding of the same
// real number, so a table entry reads the doubles that sincos would give it,
// with one call for each value of the longest length instead of one for
// every entry of every length.  fft_prepare fills it for the tables it
// builds and empties it after; guarded by the lock of the plans.
struct Octant {
    long quarter = 0;
    std::vector<double> cos_sin;
};
Octant Cached;

// The largest quarter whose cos and sin fft_prepare(n) caches: that of the
// longest whole weights of a power of two up to n.
long cached_quarter(int n) { return std::min(1 << ilog2(n), 1 << WholeWeightsMax); }

// The root in doubles: cos and sin of the double nearest the angle, (pi/2 to
// double) / q times t rounded once; with sign -1 its conjugate, the root of
// -k.  The whole tables hold these values, as they always have: the products
// up to 2^16 stay the same bit for bit.
void root(long k, int lg, int sign, double* re, double* im) {
    octant_root(k, lg, re, im, [](long t, long q, double* c, double* s) {
        if (q <= Cached.quarter) {
            // Both quarters are powers of two: a shift, not a division.
            const int shift = __builtin_ctzl(static_cast<unsigned long>(Cached.quarter)) -
                              __builtin_ctzl(static_cast<unsigned long>(q));
            const double* e = &Cached.cos_sin[2 * (t << shift)];
            *c = e[0];
            *s = e[1];
        } else {
            sincos(static_cast<double>(HalfPi) / q * t, s, c);
        }
    });
    if (sign < 0) *im = -*im;
}

// The root exp(2 pi i k/(f 2^lg)), f = 1 or 3, in long double, within a unit
// or two of its 64-bit last place: for the split tables, whose values are
// sums and products of these, and for every table of a length 3 * 2^k.
void root_ld(long k, int lg, int f, long double* re, long double* im) {
    if (f == 3) {
        const long whole = 3L << lg, m = (k % whole + whole) % whole;
        sincosl(4 * HalfPi * m / whole, im, re);
        return;
    }
    octant_root(k, lg, re, im, [](long t, long q, long double* c, long double* s) {
        sincosl(HalfPi * t / q, s, c);
    });
}

// The powers z^k, 0 <= k < count, of z = exp(2 pi i sign/(f 2^order)), in
// long double: each the product of two values of root_ld, one of k's low bits
// and one of its high bits, within a few units of the 64-bit last place.  Some
// 2 sqrt(count) calls of root_ld (about 0.2 us each) instead of count.
class Powers {
  public:
    Powers(int order, int f, int sign, long count) {
        while (1L << (2 * low_) < count) ++low_;
        const long fine = 1L << low_, coarse = (count + fine - 1) >> low_;
        fine_.resize(2 * fine);
        coarse_.resize(2 * coarse);
        for (long k = 0; k < fine; ++k) root_ld(k, order, f, &fine_[2 * k], &fine_[2 * k + 1]);
        for (long k = 0; k < coarse; ++k)
            root_ld(k << low_, order, f, &coarse_[2 * k], &coarse_[2 * k + 1]);
        for (size_t i = 1; sign < 0 && i < fine_.size(); i += 2) fine_[i] = -fine_[i];
        for (size_t i = 1; sign < 0 && i < coarse_.size(); i += 2) coarse_[i] = -coarse_[i];
    }

    void at(long k, long double* re, long double* im) const {
        const long double* a = &fine_[2 * (k & ((1L << low_) - 1))];
        const long double* b = &coarse_[2 * (k >> low_)];
        *re = a[0] * b[0] - a[1] * b[1];
        *im = a[0] * b[1] + a[1] * b[0];
    }

  private:
    int low_ = 0;
    std::vector<long double> fine_, coarse_;  // real and imaginary parts in turn
};

// Whether (re, im) lies on the unit circle, as every weight and twiddle does,
// to the rounding of its two parts.
bool on_circle(double re, double im) { return std::fabs(re * re + im * im - 1.0) < 1e-15; }

// The tables that plans use: the weights of a length, the roots of a pass,
// the two leaves, the plain tables of the lengths below 8, and the weights
// and radix-3 roots of a length 3 * 2^lg.
enum Kind { Weights, Radix2, Radix4, Leaf64, Leaf8, Small, Weights3, Radix3, Kinds };

// Calls f(kind, lg) for each table that the plan of length 2^lg (3 * 2^lg
// when three) needs, the passes as the schedule of kernel.h makes them.
template <class F>
void for_each_table(int lg, bool three, const F& f) {
    if (lg < 3) {
        f(Small, lg);
        return;
    }
    if (three) {
        f(Weights3, lg);
        f(Radix3, lg);
    } else {
        f(Weights, lg);
    }
    int l = lg;
    if (fft_top_radix2(lg)) f(Radix2, l--);
    for (; l > fft_leaf_log2(lg); l -= 2) f(Radix4, l);
    f(lg >= 6 ? Leaf64 : Leaf8, 0);
}

// The roots of a table of kind Weights, Radix2, Radix4, Weights3 or Radix3
// (FftRoots): the powers of z = exp(2 pi i sign/(f 2^order)), and the doubles
// of lo and hi.
struct RootsShape {
    int order, f, sign, powers;
    long count;
    int shift;  // 0: whole
    long lo, hi;
};

RootsShape roots_shape(Kind kind, int lg) {
    RootsShape r{};
    const bool weights = kind == Weights || kind == Weights3;
    r.f = kind == Weights3 || kind == Radix3 ? 3 : 1;
    // The length whose weights or pass these are, 2^(lg + f - 1) at most.
    const bool whole = lg + r.f - 1 <= (weights ? WholeWeightsMax : WholePassMax);
    r.order = weights ? lg + 2 : lg;
    r.sign = weights ? 1 : -1;
    r.powers = kind == Radix4 ? 3 : kind == Radix3 ? 2 : 1;
    r.count = kind == Weights3 ? 3L << lg
              : weights || kind == Radix3 ? 1L << lg
              : kind == Radix2 ? 1L << (lg - 1)
                               : 1L << (lg - 2);
    const long blocks = r.count / 8;
    r.shift = whole ? 0 : (ilog2(static_cast<int>(blocks)) + 1) / 2;
    r.lo = (whole ? blocks : 1L << r.shift) * r.powers * FftBlock;
    r.hi = whole ? 0 : (blocks >> r.shift) * 4 * r.powers;
    return r;
}

// Whether the table of kind is made of roots (FftRoots): all but the leaves
// and the plain tables of the lengths below 8, which are one part.
bool is_roots(Kind kind) { return kind != Leaf64 && kind != Leaf8 && kind != Small; }

// Doubles of the two parts of the table (kind, lg), each rounded up to whole
// lines: the roots' lo and hi (0 where there is none), or the one part.
struct Parts {
    long lo, hi;
};

Parts table_parts(Kind kind, int lg) {
    switch (kind) {
        case Leaf64: return {round_up8(FftLeafDoubles), 0};
        case Leaf8: return {FftLanesDoubles, 0};
        case Small: return {round_up8(2L * (1 << lg) + 2 * ((1 << lg) / 2)), 0};
        default: {
            const RootsShape r = roots_shape(kind, lg);
            return {round_up8(r.lo), round_up8(r.hi)};
        }
    }
}

// Doubles that the table (kind, lg) takes.
long table_doubles(Kind kind, int lg) {
    const Parts p = table_parts(kind, lg);
    return p.lo + p.hi;
}

// `count` doubles for a table, 64-byte aligned, on the heap, zeroed (the
// padding of its parts included): the tables are small, and a mapping of
// their own (allocate_doubles) would take a whole huge page each.  Populated,
// since every entry is written at once.  Throws std::bad_alloc.
Doubles table(long count) {
    const size_t bytes = static_cast<size_t>(round_up8(count)) * sizeof(double);
    void* p = std::aligned_alloc(64, bytes);
    if (p == nullptr) throw std::bad_alloc();
    populate(p, bytes);
    std::memset(p, 0, bytes);
    return Doubles(static_cast<double*>(p));
}

// A table and the memory it owns: none for a table built into the program.
struct Table {
    Doubles lo, hi;
    FftRoots roots;
};

// Builds the roots (kind, lg) into *t, which is left as it was if an
// allocation throws std::bad_alloc.
void build_roots(Kind kind, int lg, Table* t) {
    const RootsShape r = roots_shape(kind, lg);
    Doubles lo = table(r.lo), hi = r.hi ? table(r.hi) : Doubles();
    const long lo_blocks = r.lo / (r.powers * FftBlock);
    // The whole tables of 3 * 2^k take their values from Powers too: two calls
    // of sincosl for each square root of the count, not one for every value.
    const bool by_powers = r.shift != 0 || r.f == 3;
    const Powers low(r.order, r.f, r.sign, by_powers ? r.powers * 8 * lo_blocks : 1);
    for (long b = 0; b < lo_blocks; ++b)
        for (int p = 1; p <= r.powers; ++p)
            for (int lane = 0; lane < 8; ++lane) {
                const long k = p * (8 * b + lane);
                double* e = lo.get() + fft_roots_block(b, p, r.powers) + lane;
                if (r.shift == 0 && r.f == 3) {
                    long double x, y;
                    low.at(k, &x, &y);
                    e[0] = static_cast<double>(x);
                    e[8] = static_cast<double>(y);
                    DRMPI_ASSERT(on_circle(e[0], e[8]));
                } else if (r.shift == 0) {
                    root(k, r.order, r.sign, &e[0], &e[8]);
                    DRMPI_ASSERT(on_circle(e[0], e[8]));
                } else {
                    long double x, y;
                    low.at(k, &x, &y);
                    e[0] = static_cast<double>(x - 1);  // x - 1 is exact
                    e[8] = static_cast<double>(y);
                }
            }
    // H = (z^(8 2^shift))^(p g), its real and imaginary parts each the sum of
    // two doubles.
    const long groups = r.hi / (4 * r.powers);
    const Powers high(r.order - 3 - r.shift, r.f, r.sign, r.powers * groups);
    for (long g = 0; g < groups; ++g)
        for (int p = 1; p <= r.powers; ++p) {
            long double x, y;
            high.at(p * g, &x, &y);
            double* e = hi.get() + fft_roots_group(g, p, r.powers);
            e[0] = static_cast<double>(x);
            e[1] = static_cast<double>(y);
            e[2] = static_cast<double>(x - e[0]);
            e[3] = static_cast<double>(y - e[1]);
            DRMPI_ASSERT(on_circle(e[0], e[1]));
        }
    t->roots = {lo.get(), hi.get(), r.shift};
    t->lo = std::move(lo);
    t->hi = std::move(hi);
}

// Builds the table (kind, lg) into *t, as build_roots.
void build_table(Kind kind, int lg, Table* t) {
    if (is_roots(kind)) {
        build_roots(kind, lg, t);
        return;
    }
    Doubles d = table(table_doubles(kind, lg));
    double* e = d.get();
    if (kind == Leaf64) {
        for (int k1 = 1; k1 <= FftLeafPowers; ++k1)
            for (int l = 0; l < 8; ++l) {
                double* v = e + fft_roots_block(0, k1, FftLeafPowers) + l;
                root(l * k1, 6, -1, &v[0], &v[8]);
            }
        double sin_quarter;
        for (int l = 0; l < 8; ++l) root(1, 3, 1, &e[FftLeafHalf + l], &sin_quarter);
    } else if (kind == Leaf8) {
        for (int l = 0; l < 8; ++l) {
            double* v4 = e + fft_lane_stage(4) + l;
            double* v2 = e + fft_lane_stage(2) + l;
            root(l & 4 ? l % 4 : 0, 3, -1, &v4[0], &v4[8]);
            root(l & 2 ? l % 2 : 0, 2, -1, &v2[0], &v2[8]);
        }
    } else {
        const int n = 1 << lg;
        for (int j = 0; j < n; ++j) root(j, lg + 2, 1, &e[j], &e[n + j]);
        for (int j = 0; j < n / 2; ++j) root(j, lg, -1, &e[2 * n + j], &e[2 * n + n / 2 + j]);
    }
    t->roots = {e, nullptr, 0};
    t->lo = std::move(d);
}

// Calls f(n) for each length of fft_prepare(n): the powers of two up to n,
// and the lengths 3 * 2^j from 24 to n when n is 3 * 2^k, else to 3n/4 and
// FftBuiltInThreeMax.
template <class F>
void for_each_prepared(int n, const F& f) {
    for (int m = 1; m <= n && m <= 1 << FftMaxLog2; m *= 2) f(m);
    const int threes = n % 3 == 0 && fft_length(n) ? n : std::min(n / 4 * 3, FftBuiltInThreeMax);
    for (int m = 24; m <= threes; m *= 2) f(m);
}

// Calls f(kind, l) once for each table of the plans of fft_prepare(n) for
// each n of sizes in turn, in the order in which it builds them.
template <class F>
void for_each_prepared_table(std::span<const int> sizes, const F& f) {
    bool seen[Kinds][FftMaxLog2 + 1] = {};
    for (const int n : sizes)
        for_each_prepared(n, [&](int m) {
            const bool three = m % 3 == 0;
            for_each_table(ilog2(three ? m / 3 : m), three, [&](Kind kind, int l) {
                if (!seen[kind][l]) f(kind, l);
                seen[kind][l] = true;
            });
        });
}

// The tables built into the program: those of fft_prepare(n) for the n of
// FftBuiltInSizes, in that order, each of table_doubles: its lo part, then
// its hi part, each in whole lines.  Made by fft_built_in_tables() at build
// time (fft_embed) and included by tables.cpp, they lie in the program's
// file: a run maps them from the page cache, neither computing them nor
// clearing fresh memory for them (5 to 10 us a page in a virtual machine, a
// tenth of a run of 10^4 digits).
#ifdef DRMPI_FFT_NO_BUILT_IN
// The tool that makes them has none.
constexpr bool HasBuiltIn = false;
const double* const BuiltInStart = nullptr;
const double* const BuiltInEnd = nullptr;
#else
constexpr bool HasBuiltIn = true;
extern "C" const double drmpi_fft_tables[], drmpi_fft_tables_end[];
const double* const BuiltInStart = drmpi_fft_tables;
const double* const BuiltInEnd = drmpi_fft_tables_end;
#endif

// Where each built-in table starts among them, -1 for the others (-1 for
// all when the program holds tables of another layout), and their doubles.
struct BuiltIn {
    int64_t start[Kinds][FftMaxLog2 + 1];
    int64_t doubles = 0;
};

const BuiltIn& built_in() {
    static const BuiltIn b = [] {
        BuiltIn b;
        std::fill(&b.start[0][0], &b.start[0][0] + Kinds * (FftMaxLog2 + 1), -1);
        for_each_prepared_table(FftBuiltInSizes, [&](Kind k, int m) {
            b.start[k][m] = b.doubles;
            b.doubles += table_doubles(k, m);
        });
        if (HasBuiltIn && BuiltInEnd - BuiltInStart != b.doubles)
            std::fill(&b.start[0][0], &b.start[0][0] + Kinds * (FftMaxLog2 + 1), -1);
        return b;
    }();
    return b;
}

// The table (kind, l) from the program's built-in tables into *t; false when
// it is not among them.
bool use_built_in(Kind kind, int l, Table* t) {
    const int64_t start = built_in().start[kind][l];
    if (!HasBuiltIn || start < 0) return false;
    const double* const at = BuiltInStart + start;
    const Parts p = table_parts(kind, l);
    t->roots = {at, p.hi ? at + p.lo : nullptr, is_roots(kind) ? roots_shape(kind, l).shift : 0};
    return true;
}

const FftKernels& kernels_of(FftIsa isa) {
    switch (isa) {
        case FftIsa::avx512: return fft_avx512::kernels;
        case FftIsa::avx2: return fft_avx2::kernels;
        default: return fft_generic::kernels;
    }
}

// Every table and plan, for the life of the process.  Built under the lock;
// a plan, once published in `plan`, is found without it.  Constant
// initialised, so that a lookup needs no guard.
struct Store {
    std::mutex lock;
    Table tables[Kinds][FftMaxLog2 + 1];  // by kind, then lg (0 for the leaves)
    // by lg, then three, then path
    std::unique_ptr<FftPlan> owned[FftMaxLog2 + 1][2][3];
    std::atomic<const FftPlan*> plan[FftMaxLog2 + 1][2][3] = {};
};

// Never destroyed: the plans serve until the process ends, and destroying
// them at its exit would only touch their pages once more (a fault of 5 to
// 10 us each in a virtual machine, for pages that a short run never used).
union Lasting {
    Store store;
    constexpr Lasting() : store() {}
    ~Lasting() {}
};
constinit Lasting Stored;
Store& Plans = Stored.store;

// Whether the table (kind, l) is there: built, or built in, and then taken
// from the program's tables on this first call.  Called with the lock held.
bool table_ready(Kind kind, int l) {
    Table& t = Plans.tables[kind][l];
    return t.roots.lo != nullptr || use_built_in(kind, l, &t);
}

// The plan of fft_plan(n, isa) when it does not exist yet.  Throws
// std::bad_alloc; the tables built before stay.
const FftPlan& build_plan(int n, FftIsa isa) {
    if (!fft_length(n) || !fft_isa_available(isa)) {
        std::fprintf(stderr, "drmpi: no FFT plan for length %d on path %d\n", n,
                     static_cast<int>(isa));
        std::abort();
    }
    const bool three = n % 3 == 0;
    const int lg = ilog2(three ? n / 3 : n), i = static_cast<int>(isa);
    std::lock_guard<std::mutex> hold(Plans.lock);
    if (const FftPlan* p = Plans.plan[lg][three][i].load(std::memory_order_relaxed)) return *p;
    auto p = std::make_unique<FftPlan>();
    p->n = n;
    p->log2n = lg;
    p->three = three;
    p->kernels = &kernels_of(isa);
    for_each_table(lg, three, [&](Kind kind, int l) {
        Table& t = Plans.tables[kind][l];
        if (!table_ready(kind, l)) build_table(kind, l, &t);
        switch (kind) {
            case Weights:
            case Weights3: p->weights = t.roots; break;
            case Radix3: p->third = t.roots; break;
            case Radix2:
            case Radix4: p->pass[l] = t.roots; break;
            case Small:
                p->weights.lo = t.roots.lo;
                p->pass[0].lo = t.roots.lo + 2 * n;
                break;
            default: p->leaf = t.roots.lo;
        }
    });
    Plans.owned[lg][three][i] = std::move(p);
    Plans.plan[lg][three][i].store(Plans.owned[lg][three][i].get(), std::memory_order_release);
    return *Plans.owned[lg][three][i];
}

}  // namespace

bool fft_isa_available(FftIsa isa) {
    // What the C library found at start: a cpuid of our own traps to the
    // hypervisor in a virtual machine (8 us each here), and libgcc's
    // detection (__builtin_cpu_supports) makes ten at start, a thirtieth of a
    // run of 10^4 digits.  Active: the processor has it and the system saves
    // its registers.
    switch (isa) {
        case FftIsa::avx512: return CPU_FEATURE_ACTIVE(AVX512F);
        case FftIsa::avx2: return CPU_FEATURE_ACTIVE(AVX2);
        default: return true;
    }
}

FftIsa fft_default_isa() {
    static const FftIsa isa = [] {
        const char* name = std::getenv("DRMPI_ISA");
        const struct { const char* name; FftIsa isa; } named[] = {
            {"generic", FftIsa::generic}, {"avx2", FftIsa::avx2}, {"avx512", FftIsa::avx512}};
        for (const auto& e : named)
            if (name && std::strcmp(name, e.name) == 0 && fft_isa_available(e.isa)) return e.isa;
        if (fft_isa_available(FftIsa::avx512)) return FftIsa::avx512;
        return fft_isa_available(FftIsa::avx2) ? FftIsa::avx2 : FftIsa::generic;
    }();
    return isa;
}

bool fft_length(int n) {
    if (n >= 1 && n <= 1 << FftMaxLog2 && (n & (n - 1)) == 0) return true;
    const int m = n / 3;
    return n % 3 == 0 && m >= 8 && m < 1 << FftMaxLog2 && (m & (m - 1)) == 0;
}

int64_t fft_plans_bytes(int n) {
    // The tables built, the cache of cos and sin held while they are, and
    // all the built-in tables where any is read: the system may map the whole
    // of them from the page cache at once.
    int64_t doubles = 0;
    bool reads_built_in = false;
    for_each_prepared_table({&n, 1}, [&](Kind kind, int l) {
        if (built_in().start[kind][l] >= 0) {
            reads_built_in = true;
        } else {
            doubles += table_doubles(kind, l);
        }
    });
    if (doubles > 0) doubles += round_up8(2 * (cached_quarter(n) / 2 + 1));
    if (reads_built_in) doubles += built_in().doubles;
    return doubles * static_cast<int64_t>(sizeof(double));
}

namespace {

// Fills the cache of cos and sin for the tables of fft_prepare(n).  The
// longest whole weights of a power of two, of length at most n and
// 2^WholeWeightsMax, have the largest quarter.  The cache is a fifth of the
// tables it serves at most.  (The tables of the lengths 3 * 2^k compute their
// roots in long double.)  Called with the lock held.
void cache_roots(int n) {
    const long quarter = cached_quarter(n);
    Cached.cos_sin.resize(2 * (quarter / 2 + 1));
    for (long t = 0; t <= quarter / 2; ++t)
        sincos(static_cast<double>(HalfPi) / quarter * t, &Cached.cos_sin[2 * t + 1],
               &Cached.cos_sin[2 * t]);
    Cached.quarter = quarter;
}

}  // namespace

void fft_prepare(int n) {
    {
        // Tables built in, or built before, need no cache.
        std::lock_guard<std::mutex> hold(Plans.lock);
        bool missing = false;
        for_each_prepared_table({&n, 1},
                                [&](Kind kind, int l) { missing |= !table_ready(kind, l); });
        if (missing) cache_roots(n);
    }
    const auto forget = [] {
        std::lock_guard<std::mutex> hold(Plans.lock);
        Cached = Octant();
    };
    try {
        for_each_prepared(n, [](int m) { fft_plan(m); });
    } catch (...) {
        forget();
        throw;
    }
    forget();
}

std::vector<double> fft_built_in_tables() {
    std::lock_guard<std::mutex> hold(Plans.lock);
    cache_roots(*std::max_element(std::begin(FftBuiltInSizes), std::end(FftBuiltInSizes)));
    std::vector<double> all;
    for_each_prepared_table(FftBuiltInSizes, [&](Kind kind, int l) {
        Table t;
        build_table(kind, l, &t);
        const Parts p = table_parts(kind, l);
        all.insert(all.end(), t.roots.lo, t.roots.lo + p.lo);
        all.insert(all.end(), t.roots.hi, t.roots.hi + p.hi);
    });
    Cached = Octant();
    return all;
}

const FftPlan& fft_plan(int n) { return fft_plan(n, fft_default_isa()); }

const FftPlan& fft_plan(int n, FftIsa isa) {
    if (n > 0 && n <= 3 << (FftMaxLog2 - 1)) {
        // n = m 2^lg with m odd: a plan exists only for m = 1 or 3.
        const int lg = __builtin_ctz(static_cast<unsigned>(n)), m = n >> lg;
        if (m <= 3) {
            const FftPlan* p =
                Plans.plan[lg][m == 3][static_cast<int>(isa)].load(std::memory_order_acquire);
            if (p) return *p;
        }
    }
    return build_plan(n, isa);
}

void fft_forward_words(const FftPlan& p, WordsView a, double* spectrum, int count) {
    DRMPI_ASSERT(count >= 0 && count <= p.n && (count % 8 == 0 || count == p.n));
    p.kernels->forward_words(p, a, count == 0 ? p.n : count, spectrum);
}

void fft_forward_digits(const FftPlan& p, WordsView a, SplitDigit digit, double* spectrum,
                        int count) {
    DRMPI_ASSERT(count >= 0 && count <= p.n && count % 8 == 0);
    p.kernels->forward_digits(p, a, count == 0 ? p.n : count, digit, spectrum);
}

void fft_mul(const FftPlan& p, const double* x, const double* y, double* out) {
    p.kernels->mul(p, x, y, out);
}

void fft_mul_add(const FftPlan& p, const double* x, const double* y, double* acc) {
    p.kernels->mul_add(p, x, y, acc);
}

double fft_inverse_words(const FftPlan& p, double* spectrum, double* z) {
    return p.kernels->inverse_words(p, spectrum, z);
}

}  // namespace drmpi

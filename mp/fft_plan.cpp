// FFT plans: the tables of one length, built once on first use and kept for
// the life of the process, and the choice of the instruction set that runs
// the transforms.
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include "mp/check.h"
#include "mp/fft_kernel.h"
#include "mp/parallel.h"

namespace drmpi {
namespace {

// cos and sin of multiples of pi/(2n) over the first octant, each straight
// from the library's cos and sin of its own angle.  Within the octant the
// angle, t times the double nearest pi/(2n), is correct to a unit in its last
// place, and so are its cos and sin.
// Every other multiple of the angle follows by exact symmetries.
class Octant {
  public:
    explicit Octant(int n)
        : n_(n), lg_(ilog2(n)), stride_(1), cs_(allocate_doubles(n + 2)), c_(cs_.get()),
          s_(cs_.get() + n / 2 + 1) {
        const double unit = 3.14159265358979323846 / (2.0 * n);
        // In pieces on the threads, for the long ones.
        const int pieces = n >= 1 << 16 ? 16 : 1;
        const int per = (n / 2 + pieces) / pieces;
        parallel_for(pieces, [&](int i, int) {
            const int end = imin(n / 2 + 1, (i + 1) * per);
            for (int t = i * per; t < end; ++t) sincos(unit * t, &s_[t], &c_[t]);
        });
        c_[0] = 1.0;
        s_[0] = 0.0;
    }

    // The octant of length n < big.n_ taken from big's: t pi/(2n) is the angle
    // of t (big.n_/n) there, computed as the same rounded product.
    Octant(const Octant& big, int n)
        : n_(n), lg_(ilog2(n)), stride_(big.stride_ * (big.n_ / n)), shared_(&big) {}

    // (cos, sin) of t * pi/(2n), any t >= 0.
    void cis(long t, double* re, double* im) const {
        const int quadrant = static_cast<int>((t >> lg_) & 3);
        const int r = static_cast<int>(t & (n_ - 1));
        double x = r <= n_ / 2 ? c(r) : s(n_ - r);
        double y = r <= n_ / 2 ? s(r) : c(n_ - r);
        for (int q = 0; q < quadrant; ++q) {  // times i
            const double u = x;
            x = -y;
            y = u;
        }
        *re = x;
        *im = y;
    }

    // exp(-2 pi i k/2^lgm), 2^lgm at most 4n.
    void root(long k, int lgm, double* re, double* im) const {
        cis(k << (lg_ + 2 - lgm), re, im);
        *im = -*im;
    }

    int length() const { return n_; }

  private:
    double c(int t) const {
        return shared_ ? shared_->c_[static_cast<size_t>(t) * stride_] : c_[t];
    }
    double s(int t) const {
        return shared_ ? shared_->s_[static_cast<size_t>(t) * stride_] : s_[t];
    }

    int n_, lg_;
    long stride_;
    Doubles cs_;  // c_ then s_, n/2 + 1 each
    double* c_ = nullptr;
    double* s_ = nullptr;
    const Octant* shared_ = nullptr;
};

// The blocks that the tables are cut from, for the life of the process.
struct TableBlocks {
    std::mutex lock;
    double* free = nullptr;  // the rest of the current block
    long left = 0;
    long next = 1L << 16;  // doubles of the next block that table() starts
};
TableBlocks Tables;

// Starts a block of `doubles` doubles in place of the current one, whose rest
// is left unused.  Called with Tables.lock held.  Throws std::bad_alloc.
void start_block(long doubles) {
    Tables.free = allocate_doubles(doubles).release();
    Tables.left = doubles;
}

// A table for the life of the process, 64-byte aligned, cut from blocks that
// double from 512 kB to 64 MB and more, the large ones on huge pages: page
// faults cost microseconds each here, and the tables of a long run, all its
// lengths together, would otherwise take thousands of them, while a short run
// should not clear a huge page it hardly uses.  Throws std::bad_alloc when the
// memory is not there.
double* table(long count) {
    const long doubles = round_up8(count);
    std::lock_guard<std::mutex> hold(Tables.lock);
    if (doubles > Tables.left) {
        start_block(doubles > Tables.next ? doubles : Tables.next);
        if (Tables.next < (8L << 20)) Tables.next *= 2;
    }
    double* t = Tables.free;
    Tables.free += doubles;
    Tables.left -= doubles;
    return t;
}

// Makes sure that the next tables, of `doubles` doubles in all (as
// round_up8 counts them), come from the current block: when it has less
// room, a block of exactly that size replaces it.  Throws std::bad_alloc.
void reserve_tables(long doubles) {
    std::lock_guard<std::mutex> hold(Tables.lock);
    if (doubles > Tables.left) start_block(doubles);
}

// log2 of the leaves of a plan of length n >= 8: 64 points from 64 on, else 8.
int leaf_log2(int n) { return n >= 64 ? 6 : 3; }

// Calls f(l, radix) for each pass above the leaves of a plan of length n >= 8,
// from the top, the pass over sub-transforms of 2^l points: radix 2 for the
// first when log2(n / leaf) is odd, radix 4 for all others.
template <class F>
void for_each_pass(int n, const F& f) {
    const int leaf = leaf_log2(n);
    for (int l = ilog2(n); l > leaf;) {
        const int radix = (l - leaf) % 2 == 1 ? 2 : 4;
        f(l, radix);
        l -= radix == 2 ? 1 : 2;
    }
}

// Doubles of the table of a pass over 2^l points: for each of its 2^l / radix
// butterflies the radix - 1 complex twiddles.
long pass_doubles(int l, int radix) { return (1L << l) / radix * 2 * (radix - 1); }

// Doubles that the tables of a plan of length n take from their blocks: what
// build_tables asks table() for.
long plan_doubles(int n) {
    long doubles = round_up8(2L * n);  // the weights
    if (n < 8) return doubles + round_up8(n > 1 ? n : 1);
    for_each_pass(n, [&](int l, int radix) { doubles += round_up8(pass_doubles(l, radix)); });
    return doubles + round_up8(8 * 16);  // the leaves
}

// Whether (re, im) lies on the unit circle, as every weight and twiddle does,
// to the rounding of its two parts.
bool on_circle(double re, double im) { return std::fabs(re * re + im * im - 1.0) < 1e-15; }

// Fills the tables of a plan of length n (see fft_kernel.h) from the cos and
// sin of oct, whose length is n.
void build_tables(FftPlan* p, int n, const Octant& oct) {
    p->n = n;
    p->log2n = ilog2(n);
    for (const double*& t : p->pass) t = nullptr;
    p->leaf = nullptr;
    double* w = table(2L * n);
    p->weights = w;
    if (n < 8) {
        for (int j = 0; j < n; ++j) oct.cis(j, &w[j], &w[n + j]);
        double* t = table(n > 1 ? n : 1);
        for (int j = 0; j < n / 2; ++j) oct.root(j, p->log2n, &t[j], &t[n / 2 + j]);
        p->pass[0] = t;
        return;
    }
    for (long j = 0; j < n; ++j) {
        double* e = w + j / 8 * 16 + j % 8;
        oct.cis(j, &e[0], &e[8]);
        DRMPI_ASSERT(on_circle(e[0], e[8]));
    }
    for_each_pass(n, [&](int l, int radix) {
        const long count = (1L << l) / radix;
        const int powers = radix - 1;
        double* t = table(pass_doubles(l, radix));
        for (long j = 0; j < count; ++j)
            for (int r = 1; r <= powers; ++r) {
                double* e = t + j / 8 * 16 * powers + (r - 1) * 16 + j % 8;
                oct.root(r * j, l, &e[0], &e[8]);
                DRMPI_ASSERT(on_circle(e[0], e[8]));
            }
        p->pass[l] = t;
    });
    double* t = table(8 * 16);
    if (leaf_log2(n) == 6) {
        for (int k1 = 1; k1 <= 7; ++k1)
            for (int l = 0; l < 8; ++l)
                oct.root(static_cast<long>(l) * k1, 6, &t[(k1 - 1) * 16 + l],
                         &t[(k1 - 1) * 16 + 8 + l]);
        for (int l = 0; l < 8; ++l) oct.root(1, 3, &t[112 + l], &t[120 + l]);
    } else {
        for (int l = 0; l < 8; ++l) {
            oct.root(l & 4 ? l % 4 : 0, 3, &t[l], &t[8 + l]);
            oct.root(l & 2 ? l % 2 : 0, 2, &t[16 + l], &t[24 + l]);
        }
    }
    p->leaf = t;
}

const FftKernels& kernels_of(FftIsa isa) {
    switch (isa) {
        case FftIsa::avx512: return fft_avx512::kernels;
        case FftIsa::avx2: return fft_avx2::kernels;
        default: return fft_generic::kernels;
    }
}

// One slot per length: the shared tables and the plan of each path.  Constant
// initialised, so a lookup needs no guard.
struct Slot {
    std::mutex lock;
    FftPlan* tables = nullptr;  // guarded by lock
    std::atomic<const FftPlan*> plan[3] = {};
};

constinit Slot slots[FftMaxLog2 + 1];

// The octant of the longest plans that fft_prepare built, for the shorter ones.
std::mutex PreparedLock;
const Octant* Prepared = nullptr;  // guarded by PreparedLock; kept for good

// The plan of fft_plan(n, isa) when it does not exist yet.
const FftPlan& build_plan(int n, FftIsa isa) {
    const int lg = n > 0 ? ilog2(n) : 0;
    if (n < 1 || lg > FftMaxLog2 || n != 1 << lg || !fft_isa_available(isa)) {
        std::fprintf(stderr, "drmpi: no FFT plan for length %d on path %d\n", n,
                     static_cast<int>(isa));
        std::abort();
    }
    Slot& s = slots[lg];
    const int i = static_cast<int>(isa);
    std::lock_guard<std::mutex> guard(s.lock);
    if (const FftPlan* p = s.plan[i].load(std::memory_order_relaxed)) return *p;
    if (!s.tables) {
        // Kept only when whole: a failed allocation leaves the slot empty.
        auto tables = std::make_unique<FftPlan>();
        const Octant* big = nullptr;
        {
            std::lock_guard<std::mutex> hold(PreparedLock);
            big = Prepared;
        }
        if (big != nullptr && big->length() >= n) {
            build_tables(tables.get(), n, Octant(*big, n));
        } else {
            build_tables(tables.get(), n, Octant(n));
        }
        s.tables = tables.release();
    }
    FftPlan* p = new FftPlan(*s.tables);
    p->kernels = &kernels_of(isa);
    s.plan[i].store(p, std::memory_order_release);
    return *p;
}

}  // namespace

bool fft_isa_available(FftIsa isa) {
    __builtin_cpu_init();
    switch (isa) {
        case FftIsa::avx512: return __builtin_cpu_supports("avx512f");
        case FftIsa::avx2: return __builtin_cpu_supports("avx2");
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

int64_t fft_plans_bytes(int n) {
    int64_t doubles = 0;
    for (int m = 1; m <= n; m *= 2) doubles += plan_doubles(m);
    return doubles * static_cast<int64_t>(sizeof(double));
}

void fft_prepare(int n) {
    if (n >= 32) {
        std::lock_guard<std::mutex> hold(PreparedLock);
        if (Prepared == nullptr || Prepared->length() < n) Prepared = new Octant(n);
    }
    // The tables of the lengths not built yet, from one block that fits them
    // exactly: built on several threads in an order that varies, they would
    // otherwise leave the ends of blocks unused, more or fewer from run to run.
    long missing = 0;
    for (int m = 1; m <= n; m *= 2) {
        Slot& s = slots[ilog2(m)];
        std::lock_guard<std::mutex> guard(s.lock);
        if (s.tables == nullptr) missing += plan_doubles(m);
    }
    reserve_tables(missing);
    // The longest first, which take longest, spread over the threads.
    const int lg = ilog2(n);
    if (n >= 32) parallel_for(lg - 4, [&](int i, int) { fft_plan(1 << (lg - i)); });
    for (int m = 1; m <= n && m < 32; m *= 2) fft_plan(m);
}

const FftPlan& fft_plan(int n) { return fft_plan(n, fft_default_isa()); }

const FftPlan& fft_plan(int n, FftIsa isa) {
    if (n > 0 && (n & (n - 1)) == 0 && n <= 1 << FftMaxLog2) {
        const FftPlan* p = slots[__builtin_ctz(static_cast<unsigned>(n))]
                               .plan[static_cast<int>(isa)].load(std::memory_order_acquire);
        if (p) return *p;
    }
    return build_plan(n, isa);
}

void fft_forward_words(const FftPlan& p, const double* a, double* spectrum) {
    p.kernels->forward_words(p, a, spectrum);
}

void fft_forward_digits(const FftPlan& p, const double* a, SplitDigit digit, double* spectrum) {
    p.kernels->forward_digits(p, a, digit, spectrum);
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

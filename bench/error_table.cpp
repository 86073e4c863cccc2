// drmpi_error_table [MAX_LOG2 [MIN_LOG2]]: the rounding error of one product
// at every length 2^k and 3 * 2^k from 2^MIN_LOG2 (default 16) to
// 3 * 2^(MAX_LOG2 - 1) (MAX_LOG2 24 by default), for the worst operands (every
// word +50000: the largest outputs), random +-50000 words, and random balanced
// words, as a markdown table.  Where a product may_split a cell gives the error
// of the product of whole words, and where that exceeds SplitTrigger, after an
// arrow, the error of the product made again from split digits.  Each product
// is checked against a second, schoolbook-free reference: its value modulo a
// few primes.
#include <cstdio>
#include <cstdlib>
#include <random>

#include "fft/fft.h"
#include "mp/mp.h"
#include "mp/parallel.h"

namespace {

using namespace drmpi;

// {v, count} modulo p, most significant word first.
uint64_t residue(const double* v, int64_t count, uint64_t p) {
    unsigned __int128 r = 0;
    for (int64_t i = 0; i < count; ++i) {
        const int64_t w = static_cast<int64_t>(v[i]);
        r = (r * 100000 + static_cast<uint64_t>(w % static_cast<int64_t>(p) +
                                                static_cast<int64_t>(p))) % p;
    }
    return static_cast<uint64_t>(r);
}

}  // namespace

int main(int argc, char** argv) {
    const int top = argc > 1 ? std::atoi(argv[1]) : 24;
    const int bottom = argc > 2 ? std::atoi(argv[2]) : 16;
    std::mt19937_64 rng(7);
    std::printf("| length | every word +50000 | words +-50000 | random words |\n");
    std::printf("|---:|---:|---:|---:|\n");
    for (int row = 2 * bottom; row <= 2 * top + 1; ++row) {
        const int lg = row / 2, n = row % 2 ? 3 << (lg - 1) : 1 << lg;
        if (!fft_length(n)) break;
        const Doubles a = allocate_doubles(n), b = allocate_doubles(n);
        const Doubles out = allocate_doubles(2 * static_cast<int64_t>(n));
        const Doubles work = allocate_doubles(fft_multiply_work(n));
        double whole[3], err[3];
        bool exact = true;
        for (int kind = 0; kind < 3; ++kind) {
            for (int j = 0; j < n; ++j) {
                a[j] = kind == 0 ? 5e4 : kind == 1 ? (rng() & 1 ? 5e4 : -5e4)
                                                   : static_cast<double>(rng() % 100000) - 5e4;
                b[j] = kind == 0 ? 5e4 : kind == 1 ? (rng() & 1 ? 5e4 : -5e4)
                                                   : static_cast<double>(rng() % 100000) - 5e4;
            }
            // The whole words' product alone, through the kernel, in the work area.
            const FftPlan& plan = fft_plan(n);
            double* const sa = work.get();
            double* const sb = sa + 2 * static_cast<int64_t>(n);
            fft_forward_words(plan, a.get(), sa);
            fft_forward_words(plan, b.get(), sb);
            fft_mul(plan, sa, sb, sa);
            whole[kind] = fft_inverse_words(plan, sa, out.get());
            err[kind] = fft_multiply(a.get(), b.get(), out.get(), n, work.get());
            for (const uint64_t p : {1000000007ull, 998244353ull, 4294967291ull}) {
                const unsigned __int128 want =
                    static_cast<unsigned __int128>(residue(a.get(), n, p)) * residue(b.get(), n, p);
                exact = exact && residue(out.get(), 2 * static_cast<int64_t>(n), p) == want % p;
            }
        }
        std::printf(row % 2 ? "| 3·2^%d |" : "| 2^%d |", row % 2 ? lg - 1 : lg);
        for (int kind = 0; kind < 3; ++kind) {
            std::printf(" %.3g", whole[kind]);
            if (may_split(n) && whole[kind] > SplitTrigger) std::printf(" → %.3g", err[kind]);
            std::printf(" |");
        }
        std::printf("%s\n", exact ? "" : " WRONG PRODUCT");
        std::fflush(stdout);
        if (!exact) return 1;
    }
    return 0;
}

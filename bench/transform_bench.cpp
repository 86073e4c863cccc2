// Timing of the FFT kernel: one forward transform of words, and one whole
// product (two forward transforms, the pointwise product, the rounding inverse),
// at 2^10 ... 2^22 points, and products at the small lengths of a product tree.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <random>

#include "fft/fft.h"
#include "mp/mp.h"

namespace {

using namespace drmpi;

// n random balanced words and three spectra of n points, kept for the run.
struct Operands {
    explicit Operands(int n)
        : a(new double[n]), b(new double[n]), z(new double[2 * n]),
          x(static_cast<double*>(std::aligned_alloc(64, 16L * n))),
          y(static_cast<double*>(std::aligned_alloc(64, 16L * n))) {
        std::mt19937_64 rng(1);
        std::uniform_int_distribution<int> word(-50000, 50000);
        for (int i = 0; i < n; ++i) {
            a[i] = word(rng);
            b[i] = word(rng);
        }
    }
    ~Operands() {
        delete[] a;
        delete[] b;
        delete[] z;
        std::free(x);
        std::free(y);
    }
    double *a, *b, *z, *x, *y;
};

void BM_fft_forward(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    const FftPlan& p = fft_plan(n);
    Operands o(n);
    for (auto _ : state) {
        fft_forward_words(p, o.a, o.x);
        benchmark::DoNotOptimize(o.x[0]);
    }
}
BENCHMARK(BM_fft_forward)->RangeMultiplier(4)->Range(1 << 10, 1 << 22)
    ->Unit(benchmark::kMicrosecond);

void BM_fft_product(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    const FftPlan& p = fft_plan(n);
    Operands o(n);
    double err = 0.0;
    for (auto _ : state) {
        fft_forward_words(p, o.a, o.x);
        fft_forward_words(p, o.b, o.y);
        fft_mul(p, o.x, o.y, o.x);
        err = dmax(err, fft_inverse_words(p, o.x, o.z));
        benchmark::DoNotOptimize(o.z[n]);
    }
    state.counters["error"] = err;
}
BENCHMARK(BM_fft_product)->RangeMultiplier(2)->Range(8, 64)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_fft_product)->RangeMultiplier(4)->Range(1 << 10, 1 << 22)
    ->Unit(benchmark::kMicrosecond);

}  // namespace

// Timing of the FFT product, from 2^10 to 2^20 words, and of one whole DRM step.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "mp/mp.h"
#include "series/series.h"

namespace {

using namespace drmpi;

// Random balanced words, leading word 0, as the merge multiplies them.
void fill_balanced(double* v, int n, std::mt19937_64& rng) {
    std::uniform_int_distribution<int> word(-50000, 50000);
    v[0] = 0.0;
    for (int i = 1; i < n; ++i) v[i] = word(rng);
}

// One product of two n-word operands.  The arrays are the benchmark's own:
// the global work arrays stop at 2^18 words.
void BM_fft_multiply(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    std::vector<double> a(n), b(n), out(2 * n), work(6 * n);
    std::mt19937_64 rng(1);
    fill_balanced(a.data(), n, rng);
    fill_balanced(b.data(), n, rng);
    double err = 0.0;
    for (auto _ : state) {
        err = dmax(err, fft_multiply(a.data(), b.data(), out.data(), n, work.data()));
        benchmark::DoNotOptimize(out[n]);
    }
    state.counters["error"] = err;
}
BENCHMARK(BM_fft_multiply)
    ->RangeMultiplier(2)
    ->Range(1 << 10, 1 << 20)
    ->Unit(benchmark::kMicrosecond);

void BM_drm_step(benchmark::State& state) {
    const int series = static_cast<int>(state.range(0));
    const int n = 1 << 18;
    CarryMode = -1;
    double err = 0.0;
    for (auto _ : state) {
        TermIndex = 1.0;
        err = dmax(err, drm_step(series, n));
    }
    state.counters["error"] = err;
}
BENCHMARK(BM_drm_step)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

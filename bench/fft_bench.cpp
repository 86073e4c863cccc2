// Timing of the FFT product and of one whole DRM step.
#include <benchmark/benchmark.h>

#include <random>

#include "mp/mp.h"
#include "mp/parallel.h"
#include "series/series.h"

namespace {

using namespace drmpi;

// Random balanced words, leading word 0, as the merge multiplies them.
void fill_balanced(double* v, int n, std::mt19937_64& rng) {
    std::uniform_int_distribution<int> word(-50000, 49999);
    v[0] = 0.0;
    for (int i = 1; i < n; ++i) v[i] = word(rng);
}

void BM_fft_multiply(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    std::mt19937_64 rng(1);
    const Doubles a = allocate_doubles(n), b = allocate_doubles(n);
    const Doubles out = allocate_doubles(2 * n), work = allocate_doubles(fft_multiply_work(n));
    fill_balanced(a.get(), n, rng);
    fill_balanced(b.get(), n, rng);
    double err = 0.0;
    for (auto _ : state) {
        err = dmax(err, fft_multiply(a.get(), b.get(), out.get(), n, work.get()));
        benchmark::DoNotOptimize(out[n]);
    }
    state.counters["error"] = err;
}
BENCHMARK(BM_fft_multiply)
    ->RangeMultiplier(2)
    ->Range(1 << 10, 1 << 20)
    ->Unit(benchmark::kMillisecond);

void BM_drm_step(benchmark::State& state) {
    const int series = static_cast<int>(state.range(0));
    const int n = 1 << 18;
    const Doubles p = allocate_doubles(n + 8), q = allocate_doubles(n + 8);
    const Doubles t = allocate_doubles(n + 8), area = allocate_doubles(drm_step_area(n));
    const StepArrays arrays{p.get(), q.get(), t.get(), area.get()};
    double err = 0.0;
    for (auto _ : state) err = dmax(err, drm_step(series, n, 1.0, n / TermWords, arrays));
    state.counters["error"] = err;
}
BENCHMARK(BM_drm_step)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

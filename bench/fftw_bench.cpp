// Timing of FFTW's complex-to-complex transform, the floor against which the
// FFT product is measured: a product of n words costs at least three n-point
// transforms (two forward, one inverse).
#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <random>

namespace {

// One forward transform of n complex points, in place, planned with
// FFTW_MEASURE (the planning is not timed).
void BM_fftw_c2c(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    fftw_complex* data = fftw_alloc_complex(static_cast<size_t>(n));
    const fftw_plan plan = fftw_plan_dft_1d(n, data, data, FFTW_FORWARD, FFTW_MEASURE);
    // Planning with FFTW_MEASURE overwrites the array: fill it afterwards.
    std::mt19937_64 rng(1);
    std::uniform_int_distribution<int> word(-50000, 50000);
    for (int k = 0; k < n; ++k) {
        data[k][0] = word(rng);
        data[k][1] = 0.0;
    }
    for (auto _ : state) {
        fftw_execute(plan);
        benchmark::DoNotOptimize(data[0][0]);
        benchmark::ClobberMemory();
    }
    fftw_destroy_plan(plan);
    fftw_free(data);
}
BENCHMARK(BM_fftw_c2c)->RangeMultiplier(2)->Range(1 << 10, 1 << 20)->Unit(benchmark::kMicrosecond);

}  // namespace

// drmpi: decimal digits of pi by a Ramanujan-type series, evaluated in DRM
// steps with exact FFT products.
#include "driver/driver.h"
#include "mp/mp.h"

int main() {
    using namespace drmpi;
    int n = 0;
    int word_count = 0;
    int digits_per_word = 0;
    const int series = setup_run(3, ND, &n, &word_count, &digits_per_word);

    const int steps = drm_step_count(series, word_count, n, digits_per_word);
    print_both("  DRM Steps= %d,  FMT Size= %d \n", steps, n);

    const int start_time = clock_ms();
    MaxError = 0.0;
    drm_sum(series, n, steps);
    compute_pi(series, n);
    report_result(ArraySum, word_count, digits_per_word, start_time, MaxError);
    return finish_result_file();
}

// drmpi: decimal digits of pi by a Ramanujan-type series, evaluated in DRM
// steps with exact FFT products.
#include "driver/driver.h"
#include "mp/mp.h"

int main() {
    using namespace drmpi;
    console_init();
    const RunSetup run = setup_run(3, ND);

    const int steps = drm_step_count(run.series, run.word_count, run.fmt_size,
                                     run.digits_per_word);
    print_both("  DRM Steps= %d,  FMT Size= %d \n", steps, run.fmt_size);

    const Workspace w(run.fmt_size);
    const int start_time = clock_ms();
    double err = drm_sum(run.series, steps, w, [](int step, double seconds) {
        console("  DRM Step=%3d,  Time=%8.2f (s)\n", step, seconds);
    });
    err = dmax(err, compute_pi(run.series, w));
    report_result(w.sum, run.word_count, run.digits_per_word, start_time, err);
    if (!result_sound(w.sum, err)) {
        // A product may have been rounded to the wrong whole number: the
        // earlier result file stays.
        console(" ** Error Stop ** Rounding Error too large \n");
        console_finish();
        return 1;
    }
    const int file_status = result_file_commit();
    return console_finish() | file_status;
}

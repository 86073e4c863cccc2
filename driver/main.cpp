// drmpi: decimal digits of pi by a Ramanujan-type series, evaluated in DRM
// steps with exact FFT products.
#include <cstring>

#include "driver/driver.h"
#include "mp/mp.h"

int main(int argc, char** argv) {
    using namespace drmpi;
    console_init();
    if (argc > 1) return run_command_line(argc, argv);
    const RunSetup run = setup_run(3, ND);

    const int steps = drm_step_count(run.series, run.word_count, run.fmt_size,
                                     run.digits_per_word);
    print_both(steps_line(steps, run.fmt_size));

    const Workspace w(run.fmt_size);
    const int start_time = clock_ms();
    double err = drm_sum(run.series, steps, w, [](int step, double seconds) {
        console("%s", step_line(step, seconds).c_str());
    });
    err = dmax(err, compute_pi(run.series, w));
    report_result(w.sum, run.word_count, start_time, err);
    if (!result_sound(w.sum, err)) {
        // A product may have been rounded to the wrong whole number: the
        // earlier result file stays.
        console("%s", RoundingStop);
        console_finish();
        return 1;
    }
    int status = 0;
    if (const int e = result_file_commit(); e != 0) {
        console(" ** Error Stop ** cannot write %s: %s \n", run.file_name, std::strerror(e));
        status = 1;
    }
    return console_finish() | status;
}

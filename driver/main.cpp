// drmpi: decimal digits of pi by a Ramanujan-type series, evaluated in DRM
// steps with exact FFT products.
#include <cstdio>
#include <cstring>
#include <new>
#include <system_error>

#include "driver/cli.h"
#include "driver/run.h"

int main(int argc, char** argv) {
    using namespace drmpi;
    Output out{console_init(), {}};
    threads_from_environment();
    // Runs catch their own failures; these are of what comes before a run.
    try {
        return argc > 1 ? run_command_line(out, argc, argv) : run_dialogue(out, compute_digits);
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "drmpi: not enough memory\n");
    } catch (const std::system_error& e) {
        std::fprintf(stderr, "drmpi: %s\n", std::strerror(e.code().value()));
    }
    return 1;
}

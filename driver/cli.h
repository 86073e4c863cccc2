// The command line: drmpi [options] DIGITS.
#pragma once

#include "driver/run.h"
#include "fft/fft.h"

namespace drmpi {

// The largest FMT size of a run: the longest transform of the kernel,
// 3 * 2^26 (fft_length).
inline constexpr int MaxFmtSize = 3 << (FftMaxLog2 - 1);

// Sets the thread count from DRMPI_THREADS when it holds a whole number from
// 1 to MaxThreads; any other value gets a warning on standard error naming
// it, and the count stays the default.
void threads_from_environment();
inline constexpr int MaxThreads = 1024;

// drmpi [options] DIGITS: the exit status, 0, 1 for a failed run, 2 for a
// usage error.
int run_command_line(Output& out, int argc, char** argv);

// The run that the options describe, o.digits within the largest run, with
// compute making the computations (tests put a faulty one in its place).
// The exit status.
int run_command(Output& out, const Options& o, ComputePi compute);

}  // namespace drmpi

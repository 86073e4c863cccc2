// A run, shared by the dialogue and the command line: the computation of
// pi, its verification and the result file.
#pragma once

#include <cstdint>
#include <string>

#include "driver/console.h"
#include "driver/report.h"
#include "driver/result_file.h"
#include "driver/setup.h"

namespace drmpi {

// What a run writes to: the console and the result file.  main owns the one
// of the process; the signal handler's name of the temporary file is the only
// global beside it.
struct Output {
    Console console;
    ResultFile file;
};

// What a run asks for: all of it through the command line, the series and
// the digits through the dialogue.
struct Options {
    int series = 0;  // 0-based
    int64_t digits = 0;
    std::string output;  // "" for RamnDRM<ID>.txt, "-" for standard output
    bool plain = false;
    int threads = 0;  // 0: the default count
    bool verify = false;
    bool quiet = false;
};

// A computation of pi for the command line.
struct PiResult {
    std::string digits;  // as pi_digits gives them
    double error = 0.0;  // the largest rounding error
    double seconds = 0.0;
    int steps = 0;
    bool sound = false;  // result_sound
};

// The computation of series (0-based) at the size given, in a workspace of its
// own, on run_threads of the threads in effect, reported step by step.  It
// reserves the workspace, builds the plans and starts the threads before it
// reports its start, so that a machine that lacks them stops it there:
// std::bad_alloc when the memory is not there, std::system_error when a
// thread cannot be started.
using ComputePi = PiResult (*)(int series, const RunSize& size, Report& report);
PiResult compute_digits(int series, const RunSize& size, Report& report);

// The part of a run that the dialogue and the command line share, once the
// result file is open: computes what o asks for with compute (tests put a
// faulty one in its place), reported to `to`, verifies it when o.verify, and
// completes the result file, whose name `shown` messages give.  The exit
// status: 0, or 1 after the reason went to the report or standard error; on
// failure the result file is discarded and the earlier one stays.
int compute_and_write(Output& out, const Options& o, const RunSize& size, ComputePi compute,
                      ReportTo to, const std::string& shown);

// The dialogue: set-up, run and result file; the exit status.
int run_dialogue(Output& out, ComputePi compute);


}  // namespace drmpi

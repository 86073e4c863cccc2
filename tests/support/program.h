// Runs the real drmpi binary in a fresh temporary folder with typed input.
#pragma once

#include <string>

namespace drmpi_test {

struct Run {
    std::string console;  // everything written to standard output
    std::string file;     // the output file named in the call, "" when absent
    bool file_exists = false;
    int status = -1;      // exit status
};

// Types `input` on standard input; `setup`, when given, is a shell command run
// in the folder first (to plant a link or a directory, say).
Run run_program(const std::string& input, const std::string& file_name,
                const std::string& setup = "");

// The digits of pi after the point, from the project's reference file.
const std::string& reference_digits();

// The digits of a result file, in order, without line numbers; "" when the
// file has no "  Pi = 3. " line.
std::string file_digits(const std::string& file);

}  // namespace drmpi_test

// Runs the real drmpi binary in a fresh temporary folder, with typed input or
// interactively through pipes.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace drmpi_test {

// A temporary folder, removed with everything in it at destruction.
class Folder {
  public:
    Folder();
    ~Folder();
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;

    const std::string& path() const { return path_; }
    void write(const std::string& name, const std::string& text) const;
    std::string read(const std::string& name) const;
    // The names in the folder, sorted, without the runner's input, console, errors, peak.
    std::vector<std::string> entries() const;

  private:
    std::string path_;
};

struct Outcome {
    std::string console;  // everything written to standard output
    std::string errors;   // everything written to standard error
    std::string file;     // the output file named in the call, "" when absent
    int status = -1;      // exit status, or 128 + the signal that ended the program
    std::vector<std::string> entries;  // Folder::entries() after the run
    int64_t peak = 0;     // the peak resident set in bytes that drmpi_peak wrote, or 0
};

// The programs a run may start: drmpi, or drmpi through drmpi_peak, which
// writes its peak resident set to the file "peak" (one forked from the test
// would count the test's pages); $drmpi and $peak name the binaries.
const std::string Drmpi = "\"$drmpi\"", Peak = "\"$peak\" peak \"$drmpi\"";

// Through the shell in `folder` (by default a fresh one): runs `setup` (a
// shell command: a link planted, a limit set), then `program` with the
// arguments `args` as the shell reads them, `input` typed on its standard
// input and its output sent to `redirect` (by default the files console and
// errors).
Outcome run(const std::string& args, const std::string& input, const std::string& file_name,
            const std::string& setup = "", const std::string& redirect = "",
            const std::string& program = Drmpi, const Folder& folder = Folder());

// drmpi running in a folder with its standard input and output on pipes.
class Session {
  public:
    explicit Session(const Folder& folder);
    ~Session();  // kills the program if it still runs
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Reads standard output until it holds `text` (true), or 20 s pass
    // without output, or the output ends (false).
    bool read_until(const std::string& text);
    void type(const std::string& text);
    void signal(int sig) const;
    int wait();  // exit status, or 128 + the signal that ended it

    const std::string& console() const { return console_; }

  private:
    pid_t pid_ = -1;
    int in_ = -1, out_ = -1;
    int status_ = -1;
    std::string console_;
};

// The contents of the file name in tests/data.
std::string test_data(const std::string& name);

// The first count digits of pi after the point: from the reference file, or
// computed with MPFR beyond it.
std::string pi_reference(int64_t count);

// The digits of a result file, in order.  The digit lines are checked as they
// are read: each starts with its position (1, 81, 161, ...) right-aligned in
// 8 columns after a blank, and holds up to eight blank-led groups of ten
// digits, only the last line fewer.  Returns "" when the file has no
// "  Pi = 3. " line or a digit line breaks the layout.
std::string file_digits(const std::string& file);

// The value of "Rounding Error= " in a console or file text; -1 when absent.
double reported_error(const std::string& text);

}  // namespace drmpi_test

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
    bool has(const std::string& name) const;  // a regular file of that name exists
    std::string read(const std::string& name) const;
    // The names in the folder, sorted, without the runner's input, console and errors.
    std::vector<std::string> entries() const;

  private:
    std::string path_;
};

struct Outcome {
    std::string console;  // everything written to standard output
    std::string errors;   // everything written to standard error
    std::string file;     // the output file named in the call, "" when absent
    bool file_exists = false;
    int status = -1;      // exit status, or 128 + the signal that ended the program
    std::vector<std::string> entries;  // Folder::entries() after the run
    int64_t peak = 0;     // run_direct: the peak resident set in bytes
};

// Types `input` on standard input of drmpi run in `folder`; `setup`, when
// given, is a shell command run in the folder first (to plant a link, say).
// `redirect` replaces the default "> console 2> errors" (e.g. ">&-").
Outcome run_in(const Folder& folder, const std::string& input, const std::string& file_name,
               const std::string& setup = "", const std::string& redirect = "");

// run_in a fresh folder.
Outcome run_program(const std::string& input, const std::string& file_name,
                    const std::string& setup = "", const std::string& redirect = "");

// drmpi with the command-line arguments `args` (as the shell reads them), its
// standard input empty, in a fresh folder; setup and redirect as for run_in.
Outcome run_args(const std::string& args, const std::string& file_name,
                 const std::string& setup = "", const std::string& redirect = "");

// The program `binary` run as run_args runs drmpi.
Outcome run_binary(const std::string& binary, const std::string& args,
                   const std::string& file_name);

// drmpi with the command-line arguments `args` in a fresh folder, on a
// terminal (through script(1)): console holds what the terminal showed.
Outcome run_on_terminal(const std::string& args, const std::string& file_name);

// drmpi with the arguments `args`, started without a shell (through
// drmpi_peak, which measures its peak) in a fresh folder with its standard
// input empty and, when resource >= 0 (RLIMIT_AS, say), under the soft limit
// `limit` bytes on it.  Fills Outcome::peak.
Outcome run_direct(const std::vector<std::string>& args, const std::string& file_name,
                   int resource = -1, int64_t limit = 0);

// drmpi running in a folder with its standard input and output on pipes.
class Session {
  public:
    explicit Session(const Folder& folder);
    ~Session();  // kills the program if it still runs
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Reads standard output until it holds `text` (true) or the time is up
    // or the output ends (false).
    bool read_until(const std::string& text, int timeout_ms = 20000);
    void type(const std::string& text);
    void signal(int sig) const;
    bool running();  // not yet ended
    int wait();      // exit status, or 128 + the signal that ended it

    const std::string& console() const { return console_; }

  private:
    pid_t pid_ = -1;
    int in_ = -1, out_ = -1;
    int status_ = -1;
    std::string console_;
};

// The digits of pi after the point, from the project's reference file.
const std::string& reference_digits();

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

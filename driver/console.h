// The console: standard output for the dialogue, made safe to write from
// any shell, with a record of output that could not be written.
#pragma once

namespace drmpi {

// Standard output as the dialogue and --help write it: what console_init
// found of the standard descriptors, and the first write that failed.  One
// for the process, made by console_init in main and passed to what writes.
class Console {
  public:
    // Writes to standard output like printf; the first failure is remembered.
    void print(const char* format, ...) __attribute__((format(printf, 2, 3)));

    // Flushes standard output.  When anything written to it was lost, says so
    // on standard error and returns 1; otherwise returns 0.
    int finish();

    // Whether descriptor fd (0..2) was closed when console_init ran: output
    // asked of it cannot be delivered, though /dev/null now holds its number.
    bool was_closed(int fd) const;

  private:
    friend Console console_init();
    int errno_ = 0;  // of the first failed write, 0 when none failed
    bool closed_[3] = {};
};

// Makes the process safe to run from any shell: descriptors 0..2 that are
// closed are opened on /dev/null (so no file can take their numbers), standard
// output is line-buffered (prompts and progress show through a pipe at once),
// and SIGPIPE and SIGXFSZ are ignored (a vanished reader or a file-size limit
// becomes a write error).  Returns the console, with the descriptors that
// were closed.
Console console_init();

}  // namespace drmpi

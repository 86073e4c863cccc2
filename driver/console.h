// The console: standard output for the dialogue, made safe to write from
// any shell, with a record of output that could not be written.
#pragma once



namespace drmpi {

// Makes the process safe to run from any shell: descriptors 0..2 that are
// closed are opened on /dev/null (so no file can take their numbers), standard
// output is line-buffered (prompts and progress show through a pipe at once),
// and SIGPIPE and SIGXFSZ are ignored (a vanished reader or a file-size limit
// becomes a write error).
void console_init();

// Whether descriptor fd (0..2) was closed when console_init ran: output asked
// of it cannot be delivered, though /dev/null now holds its number.
bool console_was_closed(int fd);

// Writes to standard output like printf; the first failure is remembered.
void console(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Flushes standard output.  When anything written to it was lost, says so on
// standard error and returns 1; otherwise returns 0.
int console_finish();

}  // namespace drmpi

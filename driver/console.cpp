// The console: safe standard descriptors, line-buffered output, and a record
// of output that could not be written.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "driver/console.h"

namespace drmpi {

namespace {

int ConsoleErrno = 0;  // errno of the first failed console write, 0 when none failed
bool ClosedAtStart[3] = {};  // descriptors 0..2 that console_init found closed

}  // namespace

void console_init() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        ClosedAtStart[fd] = true;
        // open() takes the lowest free number, which is fd itself.
        const int got = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (got != fd && got != -1) close(got);
    }
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::signal(SIGPIPE, SIG_IGN);
    // A file-size limit makes writes fail with EFBIG instead of killing the
    // process, on any output.
    std::signal(SIGXFSZ, SIG_IGN);
}

bool console_was_closed(int fd) { return fd >= 0 && fd <= 2 && ClosedAtStart[fd]; }

void console(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    const int written = std::vprintf(format, args);
    va_end(args);
    if (written < 0 && ConsoleErrno == 0) ConsoleErrno = errno != 0 ? errno : EIO;
}

int console_finish() {
    if (std::fflush(stdout) != 0 && ConsoleErrno == 0) ConsoleErrno = errno != 0 ? errno : EIO;
    if (ConsoleErrno == 0 && !std::ferror(stdout)) return 0;
    std::fprintf(stderr, "drmpi: cannot write to standard output: %s\n",
                 std::strerror(ConsoleErrno != 0 ? ConsoleErrno : EIO));
    return 1;
}

}  // namespace drmpi

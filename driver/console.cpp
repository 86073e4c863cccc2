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

Console console_init() {
    Console c;
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        c.closed_[fd] = true;
        // open() takes the lowest free number, which is fd itself.
        const int got = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (got != fd && got != -1) close(got);
    }
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::signal(SIGPIPE, SIG_IGN);
    // A file-size limit makes writes fail with EFBIG instead of killing the
    // process, on any output.
    std::signal(SIGXFSZ, SIG_IGN);
    return c;
}

bool Console::was_closed(int fd) const { return fd >= 0 && fd <= 2 && closed_[fd]; }

void Console::print(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    const int written = std::vprintf(format, args);
    va_end(args);
    if (written < 0 && errno_ == 0) errno_ = errno != 0 ? errno : EIO;
}

int Console::finish() {
    if (std::fflush(stdout) != 0 && errno_ == 0) errno_ = errno != 0 ? errno : EIO;
    if (errno_ == 0 && !std::ferror(stdout)) return 0;
    std::fprintf(stderr, "drmpi: cannot write to standard output: %s\n",
                 std::strerror(errno_ != 0 ? errno_ : EIO));
    return 1;
}

}  // namespace drmpi

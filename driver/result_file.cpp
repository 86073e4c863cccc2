// The result file.  A run writes its file under a temporary name in the
// target's folder and renames it over the target only once its last byte is
// written, so the target always holds a complete result: the one before the
// run, or the run's own.  Where a file is replaced, the new one is synced
// before the rename, so that not even a crash of the system can leave the
// earlier result replaced by an unwritten one.  Failures, exits and the usual
// termination signals remove the temporary file.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "driver/result_file.h"

namespace drmpi {

namespace {

// The termination signals, blocked while the temporary file's name changes.
const int Signals[] = {SIGHUP, SIGINT, SIGQUIT, SIGTERM};
// The signals of a crash: handled too, so that only SIGKILL leaves a
// temporary file, but never blocked (a fault while blocked kills at once).
const int CrashSignals[] = {SIGSEGV, SIGBUS, SIGABRT, SIGFPE, SIGILL};

// The temporary file while it exists: the one global of the result file,
// since the signal handler and the exit handler must find it.  Signals are
// blocked while it changes.
char TempName[PATH_MAX + 1];

// Removes the temporary file and ends the process by the same signal, its
// default action restored (SA_RESETHAND) and not blocked (SA_NODEFER).
void on_signal(int sig) {
    if (TempName[0] != '\0') unlink(TempName);
    std::raise(sig);
}

void install_handlers() {
    struct sigaction sa = {};
    sa.sa_handler = on_signal;
    sa.sa_flags = SA_RESETHAND | SA_NODEFER;
    sigemptyset(&sa.sa_mask);
    for (int s : Signals) sigaction(s, &sa, nullptr);
    for (int s : CrashSignals) sigaction(s, &sa, nullptr);
}

// Runs f with the termination signals blocked.
template <class F>
void with_signals_blocked(F f) {
    sigset_t set, old;
    sigemptyset(&set);
    for (int s : Signals) sigaddset(&set, s);
    sigprocmask(SIG_BLOCK, &set, &old);
    f();
    sigprocmask(SIG_SETMASK, &old, nullptr);
}

void remove_temp() {
    with_signals_blocked([] {
        if (TempName[0] != '\0') unlink(TempName);
        TempName[0] = '\0';
    });
}

// The descriptor that a name of one stands for: /dev/stdin, /dev/stdout,
// /dev/stderr, /dev/fd/N or /proc/self/fd/N; -1 for any other name.
int descriptor_of(const std::string& path) {
    if (path == "/dev/stdin") return 0;
    if (path == "/dev/stdout") return 1;
    if (path == "/dev/stderr") return 2;
    for (const char* prefix : {"/dev/fd/", "/proc/self/fd/"}) {
        const size_t len = std::strlen(prefix);
        if (path.compare(0, len, prefix) != 0 || path.size() == len || path.size() > len + 9)
            continue;
        int fd = 0;
        for (size_t i = len; i < path.size(); ++i) {
            if (path[i] < '0' || path[i] > '9') return -1;
            fd = fd * 10 + (path[i] - '0');
        }
        return fd;
    }
    return -1;
}

// The file that writing through `name` reaches: symbolic links are followed,
// relative ones from the folder of the link, also when the last one dangles
// (writing through it would create that file).  A link chain stops at the
// name of a descriptor, which is written through the descriptor rather than
// resolved.  Returns "" with errno ELOOP when the links go round.
std::string follow_links(std::string path) {
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st;
        if (descriptor_of(path) >= 0 || lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            return path;
        char buf[PATH_MAX + 1];
        const ssize_t len = readlink(path.c_str(), buf, PATH_MAX);
        if (len < 0) return path;
        const std::string to(buf, static_cast<size_t>(len));
        const size_t slash = path.rfind('/');
        path = to[0] == '/' || slash == std::string::npos ? to : path.substr(0, slash + 1) + to;
    }
    errno = ELOOP;
    return "";
}

// Opens descriptor fd, as given to the process, for writing in place into
// *file: a duplicate, so that the commit's close leaves fd itself open.
// Returns 0 or errno (EBADF when fd is not open for writing, or was closed
// at start).
int open_descriptor(int fd, const Console& console, FILE** file) {
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || (flags & O_ACCMODE) == O_RDONLY || console.was_closed(fd)) return EBADF;
    const int copy = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    if (copy < 0) return errno;
    if ((*file = fdopen(copy, "w")) == nullptr) {
        const int e = errno;
        close(copy);
        return e;
    }
    return 0;
}

// The folder of path, with its final slash; "." for a bare name.
std::string folder_of(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash + 1);
}

// The temporary name beside target: the target's name and ".XXXXXX.tmp", its
// last part cut where the whole would pass the longest name that the folder
// takes.
std::string temp_name(const std::string& target) {
    const size_t slash = target.rfind('/');
    const size_t base = slash == std::string::npos ? 0 : slash + 1;
    const long longest = pathconf(folder_of(target).c_str(), _PC_NAME_MAX);
    const size_t fits = (longest > 0 ? static_cast<size_t>(longest) : NAME_MAX) - 11;
    return target.substr(0, base) + target.substr(base, fits) + ".XXXXXX.tmp";
}

// Creates the temporary file beside target, open in *file, with the
// permissions that the target has, or that a new file would get.  Returns 0
// or errno.
int create_temp(const std::string& target, const struct stat* existing, FILE** file) {
    std::string name = temp_name(target);
    if (name.size() > PATH_MAX) return ENAMETOOLONG;

    int fd = -1;
    with_signals_blocked([&] {
        fd = mkstemps(name.data(), 4);
        if (fd >= 0) std::snprintf(TempName, sizeof TempName, "%s", name.c_str());
    });
    if (fd < 0) return errno;

    mode_t mode;
    if (existing != nullptr) {
        mode = existing->st_mode & 07777;
        if (fchown(fd, existing->st_uid, existing->st_gid) != 0) {
            // Only root may give the file away; others keep their own.
        }
    } else {
        const mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;
    }
    if (fchmod(fd, mode) != 0 || (*file = fdopen(fd, "w")) == nullptr) {
        const int e = errno;
        close(fd);
        remove_temp();
        return e;
    }
    return 0;
}

// A failed write: the temporary file goes; returns the errno.
int write_failed(int e) {
    remove_temp();
    return e;
}

}  // namespace

ResultFile::~ResultFile() { discard(); }

int ResultFile::open(const char* name, const Console& console) {
    target_ = follow_links(name);
    if (target_.empty()) return errno;
    if (const int fd = descriptor_of(target_); fd >= 0) {
        direct_ = true;
        return open_descriptor(fd, console, &file_);
    }

    struct stat st;
    const bool exists = stat(target_.c_str(), &st) == 0;
    if (exists && S_ISDIR(st.st_mode)) return EISDIR;
    direct_ = exists && !S_ISREG(st.st_mode);
    if (direct_) {
        file_ = std::fopen(target_.c_str(), "w");
        return file_ == nullptr ? errno : 0;
    }
    if (exists) {
        // Opened for writing, without truncation, only to learn that it can be.
        const int fd = ::open(target_.c_str(), O_WRONLY | O_NOCTTY);
        if (fd < 0) return errno;
        close(fd);
    }

    static bool installed = false;
    if (!installed) {
        installed = true;
        std::atexit(remove_temp);
        install_handlers();
    }
    return create_temp(target_, exists ? &st : nullptr, &file_);
}

void ResultFile::discard() {
    if (file_ != nullptr) std::fclose(file_);
    file_ = nullptr;
    remove_temp();
}

int ResultFile::commit() {
    FILE* f = file_;
    file_ = nullptr;
    int e = 0;
    // A new file is not synced, as most programs leave theirs: no earlier
    // result is at stake, and the sync (0.3 to 3 ms here) would cost a short
    // run a third of its time.
    struct stat st;
    const bool replaces = !direct_ && stat(target_.c_str(), &st) == 0;
    if (std::fflush(f) != 0 || std::ferror(f)) {
        e = errno != 0 ? errno : EIO;
    } else if (replaces && fsync(fileno(f)) != 0) {
        e = errno;
    }
    if (std::fclose(f) != 0 && e == 0) e = errno;
    if (e != 0) return write_failed(e);
    if (direct_) return 0;

    with_signals_blocked([&] {
        if (std::rename(TempName, target_.c_str()) != 0) {
            e = errno;
        } else {
            TempName[0] = '\0';
        }
    });
    if (e != 0) return write_failed(e);
    if (!replaces) return 0;
    // The rename itself reaches the disk with the folder.
    const int dir = ::open(folder_of(target_).c_str(), O_RDONLY | O_DIRECTORY);
    if (dir >= 0) {
        fsync(dir);
        close(dir);
    }
    return 0;
}

}  // namespace drmpi

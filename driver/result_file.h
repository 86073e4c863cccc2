// The result file, written under a temporary name beside its target and
// renamed over it only when complete.
#pragma once

#include <cstdio>
#include <string>

#include "driver/console.h"

namespace drmpi {

// The result file of a run, written under a temporary name beside its
// target and renamed over it only by commit().  One a run; it discards an
// uncommitted file when it goes.
class ResultFile {
  public:
    ResultFile() = default;
    ~ResultFile();
    ResultFile(const ResultFile&) = delete;
    ResultFile& operator=(const ResultFile&) = delete;

    // Prepares the result file `name` without touching it: follows symbolic
    // links to the file they name, checks that an existing file can be
    // written, and creates the temporary file in the target's folder with the
    // target's permissions; where that name would be too long, the target's
    // name in it is cut short.  A target that is not a regular file (a
    // device, say) is opened and written directly, and the name of a
    // descriptor (/dev/stdout, /dev/stderr, /dev/fd/N, /proc/self/fd/N) writes
    // through that descriptor, unless console says it was closed at start.
    // Returns 0, or the errno of the failure.  Until the commit, any exit, the
    // termination signals SIGHUP, SIGINT, SIGQUIT and SIGTERM, and the crash
    // signals SIGSEGV, SIGBUS, SIGABRT, SIGFPE and SIGILL remove the temporary
    // file and leave the target as it was.
    int open(const char* name, const Console& console);

    // Where the result goes between open and commit.
    FILE* stream() const { return file_; }

    // Closes the file without completing it: the temporary file goes, and the
    // target stays as it was (a target written in place keeps what it got).
    void discard();

    // Completes the file: flush, sync (where a file is replaced), close, and
    // rename over the target.
    // Returns 0, or the errno of a failure, after which the temporary file is
    // gone and the target as it was.
    int commit();

  private:
    FILE* file_ = nullptr;
    std::string target_;   // the file that a commit replaces, links followed
    bool direct_ = false;  // the target is written in place (not a regular file)
};

}  // namespace drmpi

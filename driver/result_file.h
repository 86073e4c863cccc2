// The result file, written under a temporary name beside its target and
// renamed over it only when complete.
#pragma once

#include <cstdio>

namespace drmpi {

// The open result file.  Its lines go to a temporary file beside the target;
// the target is replaced only by result_file_commit.
extern FILE* ResultFile;

// Prepares the result file `name` without touching it: follows symbolic
// links to the file they name, checks that an existing file can be written,
// and creates the temporary file in the target's folder with the target's
// permissions; where that name would be too long, the target's name in it is
// cut short.  A target that is not a regular file (a device, say) is opened
// and written directly, and the name of a descriptor (/dev/stdout,
// /dev/stderr, /dev/fd/N, /proc/self/fd/N) writes through that descriptor.
// Returns 0, or the errno of the failure.  Until the commit, any exit, the
// termination signals SIGHUP, SIGINT, SIGQUIT and SIGTERM, and the crash
// signals SIGSEGV, SIGBUS, SIGABRT, SIGFPE and SIGILL remove the temporary
// file and leave the target as it was.
int result_file_open(const char* name);

// Closes the file without completing it: the temporary file goes, and the
// target stays as it was (a target written in place keeps what it got).
void result_file_discard();

// Completes the file: flush, sync, close, and rename over the target.
// Returns 0, or the errno of a failure, after which the temporary file is
// gone and the target as it was.
int result_file_commit();

}  // namespace drmpi

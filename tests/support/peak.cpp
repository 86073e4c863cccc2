// peak FILE PROGRAM [ARGS...]: runs PROGRAM with ARGS and writes its peak
// resident set in kB to FILE.  A process forked from a large one starts with
// the large one's pages counted in its peak, which survives its exec: the
// tests therefore start the program from this small process instead.  Exits
// with the program's status, or 128 + the signal that ended it.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc < 3) return 127;
    const pid_t pid = fork();
    if (pid == 0) {
        execv(argv[2], argv + 2);
        _exit(127);
    }
    int raw = 0;
    rusage usage{};
    if (pid < 0 || wait4(pid, &raw, 0, &usage) != pid) return 127;
    FILE* f = std::fopen(argv[1], "w");
    if (f == nullptr || std::fprintf(f, "%ld\n", usage.ru_maxrss) < 0 || std::fclose(f) != 0)
        return 127;
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
}

// peakof FILE COMMAND [ARGUMENT...]: runs COMMAND as a child of this small process and writes
// the child's peak resident memory in KiB to FILE; exits as the child did. A process forked
// from a large one starts with that one's pages counted in its peak, so the tests that judge
// fastencc's own peak start it through this one.

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc < 3)
        return 125;
    const pid_t pid = fork();
    if (pid == 0) {
        execv(argv[2], argv + 2);
        _exit(127);
    }
    int status = 0;
    rusage usage {};
    if (pid < 0 || wait4(pid, &status, 0, &usage) != pid)
        return 125;
    std::FILE* out = std::fopen(argv[1], "w");
    if (!out || std::fprintf(out, "%ld\n", usage.ru_maxrss) < 0 || std::fclose(out) != 0)
        return 125;
    if (WIFSIGNALED(status)) {
        signal(WTERMSIG(status), SIG_DFL);
        raise(WTERMSIG(status));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 125;
}

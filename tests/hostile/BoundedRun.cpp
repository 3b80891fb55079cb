// Runs a program with an optional address-space limit and writes the most
// memory it held (its peak resident set, in KiB) to a file once it has ended:
//
//   hostile_bounded_run ADDRESS_SPACE_BYTES|0 REPORT_FILE PROGRAM [ARGUMENTS…]
//
// Exits with the program's exit code, or 128 + the signal that ended it.
// The peak comes from wait4, so it is exact and cannot miss the last moments
// of the program as a look at /proc would.

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char **argv)
{
    if (argc < 4) {
        std::fputs("usage: hostile_bounded_run ADDRESS_SPACE_BYTES|0 REPORT_FILE PROGRAM [ARGUMENTS...]\n", stderr);
        return 125;
    }
    const unsigned long long addressSpace = std::strtoull(argv[1], nullptr, 10);
    const pid_t self = ::getpid();
    const pid_t child = ::fork();
    if (child < 0) {
        std::perror("fork");
        return 125;
    }
    if (child == 0) {
        // Killed along with this wrapper, which the test kills at its deadline.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != self)
            ::_exit(125);
        if (addressSpace > 0) {
            const rlimit limit{addressSpace, addressSpace};
            if (::setrlimit(RLIMIT_AS, &limit) != 0) {
                std::perror("setrlimit");
                ::_exit(125);
            }
        }
        ::execv(argv[3], argv + 3);
        std::perror(argv[3]);
        ::_exit(127);
    }

    int status = 0;
    rusage usage{};
    while (::wait4(child, &status, 0, &usage) < 0) {
        if (errno != EINTR) {
            std::perror("wait4");
            return 125;
        }
    }
    if (FILE *report = std::fopen(argv[2], "w")) {
        std::fprintf(report, "%ld\n", usage.ru_maxrss);
        std::fclose(report);
    }
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

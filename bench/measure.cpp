// vornakite-measure: runs a command and prints its wall time and peak resident memory.
//
// A child's peak memory as the kernel reports it includes the memory of the process it was
// forked from, up to its exec; forked from a large interpreter, every tool would seem to need
// that much. This small launcher is the parent instead.
//
// usage: vornakite-measure [--timeout SECONDS] COMMAND [ARG...]
// Prints "SECONDS PEAK_KIB EXIT_STATUS" on stdout; the command's output goes to /dev/null, its
// errors to stderr. A command still running after the timeout is killed: "timeout" is printed.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

double now() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

}  // namespace

int main(int argc, char** argv) {
    int first = 1;
    double timeout = 0.0;
    if (argc > 2 && std::strcmp(argv[1], "--timeout") == 0) {
        timeout = std::atof(argv[2]);
        first = 3;
    }
    if (first >= argc) {
        std::fputs("usage: vornakite-measure [--timeout SECONDS] COMMAND [ARG...]\n", stderr);
        return 2;
    }
    const double start = now();
    const pid_t pid = fork();
    if (pid < 0) {
        std::perror("fork");
        return 1;
    }
    if (pid == 0) {
        const int null = open("/dev/null", O_WRONLY);
        if (null >= 0) {
            dup2(null, STDOUT_FILENO);
            close(null);
        }
        execvp(argv[first], argv + first);
        std::perror(argv[first]);
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    for (;;) {
        const pid_t done = wait4(pid, &status, timeout > 0 ? WNOHANG : 0, &usage);
        if (done == pid) {
            break;
        }
        if (done < 0) {
            std::perror("wait4");
            return 1;
        }
        if (now() - start > timeout) {
            kill(pid, SIGKILL);
            wait4(pid, &status, 0, &usage);
            std::puts("timeout");
            return 0;
        }
        const timespec pause{0, 2000000};
        nanosleep(&pause, nullptr);
    }
    const double seconds = now() - start;
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    std::printf("%.6f %ld %d\n", seconds, usage.ru_maxrss, code);
    return 0;
}

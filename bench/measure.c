/* measure REPORT-FD COMMAND [ARG...]

   Runs COMMAND as a child and writes one line to the descriptor REPORT-FD
   when it ends: "user-seconds system-seconds peak-resident-kB status", where
   status is the exit code, or 128 + the signal that ended it.

   The peak resident size that wait4 reports for a process includes what the
   process held before its exec: a child forked from a large harness counts
   the harness's pages as its own. This launcher is small, so a program
   started from it is charged (nearly) only for itself. bench/speed.py
   compiles it on first use. */
#define _GNU_SOURCE
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char **argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: measure REPORT-FD COMMAND [ARG...]\n");
        return 2;
    }
    int report = atoi(argv[1]);
    /* the program itself must not inherit the report descriptor */
    fcntl(report, F_SETFD, FD_CLOEXEC);
    pid_t child = fork();
    if (child < 0) {
        perror("fork");
        return 2;
    }
    if (child == 0) {
        execvp(argv[2], argv + 2);
        perror(argv[2]);
        _exit(127);
    }
    int status = 0;
    struct rusage usage;
    if (wait4(child, &status, 0, &usage) < 0) {
        perror("wait4");
        return 2;
    }
    int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    dprintf(report, "%ld.%06ld %ld.%06ld %ld %d\n", (long)usage.ru_utime.tv_sec, (long)usage.ru_utime.tv_usec,
            (long)usage.ru_stime.tv_sec, (long)usage.ru_stime.tv_usec, usage.ru_maxrss, code);
    return 0;
}

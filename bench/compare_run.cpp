// Runs one command and measures it for the comparison with GDAL: wall time,
// and peak memory in three figures, since a pipeline reading a mapped
// source counts that source's pages in its resident size:
//  - anon: the largest RssAnon seen (the process's own heap and stacks),
//  - file: the largest RssFile seen (pages of mapped files),
//  - total: the kernel's own peak resident size (ru_maxrss), exact.
// The first two are sampled from /proc/PID/status every 5 ms, so a peak
// shorter than that can be missed; the third cannot.
//
// Usage: compare_run RESULT COMMAND [ARGS...]
// Writes "seconds=S anon_kb=A file_kb=F total_kb=T" to RESULT and exits with
// the command's status.

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

namespace {

struct Peaks {
    long anon_kb = 0, file_kb = 0;
};

double wall_now()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec * 1e-9;
}

// Raises the peaks to what /proc/PID/status shows now (nothing once the
// process has gone).
void sample(pid_t pid, Peaks &p)
{
    char path[64], line[256];
    snprintf(path, sizeof path, "/proc/%d/status", static_cast<int>(pid));
    FILE *f = fopen(path, "r");
    if (!f) return;
    long kb;
    while (fgets(line, sizeof line, f)) {
        if (sscanf(line, "RssAnon: %ld", &kb) == 1 && kb > p.anon_kb) p.anon_kb = kb;
        if (sscanf(line, "RssFile: %ld", &kb) == 1 && kb > p.file_kb) p.file_kb = kb;
    }
    fclose(f);
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: %s RESULT COMMAND [ARGS...]\n", argv[0]);
        return 2;
    }
    double start = wall_now();
    pid_t pid = fork();
    if (pid < 0) {
        perror("fork");
        return 1;
    }
    if (pid == 0) {
        execvp(argv[2], argv + 2);
        fprintf(stderr, "%s: cannot run %s: %s\n", argv[0], argv[2], strerror(errno));
        _exit(127);
    }
    Peaks peaks;
    int status = 0;
    struct rusage usage;
    const struct timespec tick = {0, 5000000};
    while (wait4(pid, &status, WNOHANG, &usage) == 0) {
        sample(pid, peaks);
        nanosleep(&tick, nullptr);
    }
    double seconds = wall_now() - start;
    FILE *f = fopen(argv[1], "w");
    if (!f || fprintf(f, "seconds=%.3f anon_kb=%ld file_kb=%ld total_kb=%ld\n", seconds,
                      peaks.anon_kb, peaks.file_kb, usage.ru_maxrss) < 0 ||
        fclose(f) != 0) {
        fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[1]);
        return 1;
    }
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return WEXITSTATUS(status);
}

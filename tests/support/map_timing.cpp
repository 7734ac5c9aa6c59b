#include "map_timing.h"

#include <math.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <sstream>

std::string default_map_in_data()
{
    const char *data = getenv("ORVEX_DATA");
    std::stringstream folders(data ? data : "");
    std::string folder;
    while (std::getline(folders, folder, ':')) {
        std::string path = folder + "/maps/orx/default.orx";
        if (!folder.empty() && access(path.c_str(), R_OK) == 0) return path;
    }
    return "";
}

double least_cpu_ms(const std::function<void()> &work, int runs)
{
    double best = HUGE_VAL;
    for (int run = 0; run < runs; run++) {
        timespec a, b;
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &a);
        work();
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &b);
        best = std::min(best, (b.tv_sec - a.tv_sec) * 1e3 + (b.tv_nsec - a.tv_nsec) * 1e-6);
    }
    return best;
}

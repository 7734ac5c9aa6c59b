// Helpers of the tests and benchmarks that time drawing on a real map.
#ifndef ORVEX_TEST_MAP_TIMING_H
#define ORVEX_TEST_MAP_TIMING_H

#include <functional>
#include <string>

/* maps/orx/default.orx in the first folder of ORVEX_DATA that holds it, or
 * "" when none does. */
std::string default_map_in_data();
/* The least processor time of the calling thread, in ms, over `runs` runs
 * of `work`: less disturbed than the clock on a busy machine. */
double least_cpu_ms(const std::function<void()> &work, int runs);

#endif

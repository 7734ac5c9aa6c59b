// A progress line on standard error for long jobs: tiles (or rows) done of total,
// rate and time left. Shown only when standard error is a terminal.
#ifndef ORVEX_TOOL_PROGRESS_H
#define ORVEX_TOOL_PROGRESS_H

#include <chrono>

namespace orvexcli {

class Progress {
public:
    Progress(long total, bool enabled, const char *unit = "tiles");
    /* One more tile done. Redraws at most a few times a second. */
    void step();
    /* `done` of `total` now (the total may be learnt late). */
    void set(long done, long total);
    /* Replaces the line with the name of a step that follows. */
    void stage(const char *what);
    /* Clears the line. */
    void finish();

private:
    void draw();
    using Clock = std::chrono::steady_clock;
    long total_, done_ = 0;
    bool enabled_;
    const char *unit_;
    Clock::time_point start_, last_draw_;
};

}  // namespace orvexcli

#endif

#include "progress.h"

#include <stdio.h>

namespace orvexcli {

Progress::Progress(long total, bool enabled, const char *unit)
    : total_(total), enabled_(enabled), unit_(unit), start_(Clock::now()), last_draw_(start_)
{
}

void Progress::step()
{
    set(done_ + 1, total_);
}

void Progress::set(long done, long total)
{
    done_ = done;
    total_ = total;
    if (!enabled_) return;
    Clock::time_point now = Clock::now();
    if (done_ < total_ && now - last_draw_ < std::chrono::milliseconds(200)) return;
    last_draw_ = now;
    draw();
}

void Progress::draw()
{
    double seconds = std::chrono::duration<double>(Clock::now() - start_).count();
    double rate = seconds > 0 ? done_ / seconds : 0;
    long left = rate > 0 ? static_cast<long>((total_ - done_) / rate + 0.5) : 0;
    fprintf(stderr, "\r  %s %ld of %ld (%3.0f%%), %.1f %s/s, %ld:%02ld left   ", unit_, done_, total_,
            total_ ? 100.0 * done_ / total_ : 100.0, rate, unit_, left / 60, left % 60);
    fflush(stderr);
}

void Progress::stage(const char *what)
{
    if (!enabled_) return;
    fprintf(stderr, "\r  %-68s", what);
    fflush(stderr);
}

void Progress::finish()
{
    if (!enabled_) return;
    fprintf(stderr, "\r%70s\r", "");
    fflush(stderr);
}

}  // namespace orvexcli

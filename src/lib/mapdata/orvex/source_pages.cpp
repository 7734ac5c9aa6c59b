// Giving back the pages of a build's sources. A build reads a raw grid
// through its mapping, and every page it has read stays in the process's
// resident set until the mapping goes: building from a 2 GB grid would hold
// 2 GB although the kernel could take the pages back at any time. So once
// a row of output tiles is written, the pages of its source's mapping are
// given back; they stay in the page cache, and the rows the next tiles read
// are mapped again at the cost of a minor fault. Only mappings the library
// made itself (an input opened by setInput) are touched, and only large
// ones: small sources are not worth the faults.

#include <errno.h>
#include <sys/mman.h>

#include "OrvexInternal.h"
#include "grid_tile_writer.h"

long orvex_source_release_above = 64L << 20;

void orvex_release_source_pages(Orvex *o, int output_resolution, long tile)
{
    const OrvexResolution &r = o->frame.resolutions[output_resolution];
    if (r.map_type != ORVEX_MAP_GRID || r.nlon_tiles < 1) return;
    bool row_done = (tile + 1) % r.nlon_tiles == 0 || tile + 1 >= r.ntiles;
    if (!row_done) return;
    const OrvexInput *in = orvex_grid_registered_input(o, output_resolution);
    if (!in) return;
    const Orvex *src = in->input;
    // A mapping of setInput's has its descriptor and name; anything else
    // (memory a caller handed in) must not lose its contents.
    if (!src->file_stream || src->fd < 0 || !src->fname || src->file_size <= orvex_source_release_above)
        return;
    madvise(src->file_stream, static_cast<size_t>(src->file_size), MADV_DONTNEED);
}

// Fed inputs. A raw grid whose rows the caller supplies a band at a time
// reads like any other: the build asks for the rows before a tile reads
// them and gives them back once no later tile of the pass reads them.

int Orvex::setRowFeed(const OrvexRowFeed *feed)
{
    if (feed && (!feed->supply || !feed->release)) {
        orvex_register_error(0, "Orvex::setRowFeed: a feed needs both supply and release.\n");
        return -1;
    }
    const OrvexResolution *r = frame.nresolutions == 1 ? &frame.resolutions[0] : nullptr;
    if (!r || r->map_type != ORVEX_MAP_GRID || !r->data || r->ntiles != 1 || !file_stream ||
        static_cast<const OrvexGrid *>(r->data)->compressed) {
        orvex_register_error(0, "Orvex::setRowFeed: not a grid input of one uncompressed tile.\n");
        return -1;
    }
    row_feed = feed ? *feed : OrvexRowFeed{nullptr, nullptr, nullptr};
    return 0;
}

int OrvexFedRows::acquire(Orvex *o, int r, long tile, long turn)
{
    std::unique_lock<std::mutex> lock(mutex_);
    if (turn < 0) return supply(o, r, tile);
    turns_.wait(lock, [&] { return turn_ == turn; });
    int rc = supply(o, r, tile);
    turn_++;
    turns_.notify_all();
    return rc;
}

void OrvexFedRows::skip_turn(long turn)
{
    std::unique_lock<std::mutex> lock(mutex_);
    turns_.wait(lock, [&] { return turn_ == turn; });
    turn_++;
    turns_.notify_all();
}

// Called with the mutex held.
int OrvexFedRows::supply(Orvex *o, int r, long tile)
{
    Orvex *input;
    long a, b;
    if (!orvex_grid_tile_fed_rows(o, r, tile, &input, &a, &b) || a >= b) return 0;
    if (input != input_ || a < lo_ || a > hi_) {
        // Another input, a new pass, or a gap no tile reads: start afresh.
        release(lo_, hi_);
        input_ = input;
        lo_ = hi_ = a;
    }
    if (b <= hi_) return 0;
    const OrvexRowFeed *feed = input->rowFeed();
    errno = 0;  // a failure's message carries only what the supply set
    if (feed->supply(feed->arg, hi_, b) < 0) {
        orvex_register_error(0, "Orvex::writeTileDataGrid: cannot supply rows %ld to %ld of the source.\n", hi_,
                             b - 1);
        return -1;
    }
    hi_ = b;
    return 0;
}

void OrvexFedRows::written(Orvex *o, int r, long tile, long keep_from)
{
    Orvex *input;
    long a, b;
    if (!orvex_grid_tile_fed_rows(o, r, tile, &input, &a, &b)) return;
    std::lock_guard<std::mutex> lock(mutex_);
    if (input != input_) return;
    a = keep_from < 0 ? hi_ : keep_from;
    if (a <= lo_) return;
    release(lo_, a < hi_ ? a : hi_);
    lo_ = a < hi_ ? a : hi_;
}

void OrvexFedRows::release_all()
{
    std::lock_guard<std::mutex> lock(mutex_);
    release(lo_, hi_);
    lo_ = hi_ = 0;
    input_ = nullptr;
}

// The feed may have been taken away since the rows were supplied.
void OrvexFedRows::release(long row0, long row1)
{
    if (!input_ || row0 >= row1) return;
    const OrvexRowFeed *feed = input_->rowFeed();
    if (feed) feed->release(feed->arg, row0, row1);
}

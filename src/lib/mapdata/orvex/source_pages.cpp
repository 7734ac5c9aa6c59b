// Giving back the pages of a build's sources. A build reads a raw grid
// through its mapping, and every page it has read stays in the process's
// resident set until the mapping goes: building from a 2 GB grid would hold
// 2 GB although the kernel could take the pages back at any time. So once
// a row of output tiles is written, the pages of its source's mapping are
// given back; they stay in the page cache, and the rows the next tiles read
// are mapped again at the cost of a minor fault. Only mappings the library
// made itself (an input opened by setInput) are touched, and only large
// ones: small sources are not worth the faults.

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

// What `orvex query` tells of one resolution at a position, as a record,
// so that the text of the command and the JSON of the server say the same.
#ifndef ORVEX_TOOL_QUERY_H
#define ORVEX_TOOL_QUERY_H

#include "Orvex.h"
#include "sampler.h"

namespace orvexcli {

struct QueryAnswer {
    bool grid = false, vector = false; /* neither: the resolution has no data */
    Sample sample;                     /* grids; sample.tile -1 outside */
    int tile = -1;                     /* vectors: -1 outside */
    long tilerow = -1, tilecol = -1, segments = 0;
};

/* Fills *out for resolution `index`. Returns 0, or -1 when a grid tile
 * cannot be read (message registered). */
int query_resolution(Orvex &map, int index, double lat, double lon, QueryAnswer *out);

}  // namespace orvexcli

#endif

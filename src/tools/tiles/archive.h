// Tile archives: what describes one (name, zooms, bounds, what its tiles
// are) and the writers' common face. A writer takes tiles as bytes, in
// ascending tile number, each once; it does not care how they were drawn.
#ifndef ORVEX_TILES_ARCHIVE_H
#define ORVEX_TILES_ARCHIVE_H

#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

#include "region.h"

namespace orvextiles {

struct ArchiveInfo {
    std::string name, description, attribution;
    std::string format = "png";
    std::string type = "baselayer";
    std::string encoding; /* "terrarium" for elevation tiles, else empty */
    int minzoom = 0, maxzoom = 0;
    /* West, south, east, north (degrees, east > west); the centre and the
     * zoom a client starts at. */
    double west = -180, south = -85.0511287798066, east = 180, north = 85.0511287798066;
    double center_lon = 0, center_lat = 0;
    int center_zoom = 0;
};

/* The bounds of a region as far as web-map tiles reach (a region across
 * 180 degrees covers every longitude), its centre and a starting zoom. */
void set_bounds(const orvextool::Region &region, ArchiveInfo *info);

/* The description as TileJSON (the metadata of PMTiles archives). */
std::string tilejson_text(const ArchiveInfo &info);
/* The rows of an MBTiles metadata table. */
std::vector<std::pair<std::string, std::string>> mbtiles_metadata(const ArchiveInfo &info);

struct ArchiveCounts {
    long tiles = 0;    /* tiles addressed */
    long contents = 0; /* distinct contents stored */
    uint64_t tile_bytes = 0; /* bytes of every tile as drawn, repeats included */
};

class ArchiveWriter {
public:
    virtual ~ArchiveWriter() = default;
    /* Starts the archive at `path` (a temporary name: the caller moves it
     * into place) with scratch files named from `scratch`. Returns 0, or -1
     * (registered). */
    virtual int begin(const std::string &path, const std::string &scratch) = 0;
    /* One tile, in ascending tile number. Returns 0, or -1 (registered). */
    virtual int add(uint64_t id, int z, uint32_t x, uint32_t y, const std::string &bytes) = 0;
    /* Completes and closes the archive. Returns 0, or -1 (registered). */
    virtual int finish(const ArchiveInfo &info) = 0;
    const ArchiveCounts &counts() const { return counts_; }

protected:
    ArchiveCounts counts_;
};

/* The writers of PMTiles version 3 and of MBTiles 1.3. */
ArchiveWriter *new_pmtiles_writer();
ArchiveWriter *new_mbtiles_writer();

}  // namespace orvextiles

#endif

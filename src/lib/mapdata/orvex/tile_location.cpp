// Tile and pixel location: which tile of a lattice holds a latitude and
// longitude, and where inside a grid tile its sample lies. Quotients are
// truncated toward zero; longitudes are turned by 360 degrees one turn at a
// time, latitudes never. Every call ends, whatever the numbers: positions
// that cannot be located are answered with -1 in every output.

#include <limits.h>
#include <math.h>

#include "OrvexInternal.h"

namespace {

const double kTurn = 360.0;
// A longitude farther than this from the edge it is turned toward is first
// brought near it in one step; nearer ones are turned one turn at a time.
const double kOneStepDistance = 64 * kTurn;
// Beyond this distance a double no longer holds a longitude to a useful
// fraction of a degree: such positions are outside.
const double kFarthest = 1125899906842624.0;  // 2^50 degrees
// After the one step a longitude is within a turn or two of the edge.
const int kMaxTurns = 130;

// trunc(q) when it lies in 0 .. n - 1, else -1. Written as a test on q
// itself, so that no out-of-range or NaN quotient is ever converted.
long truncated_index(double q, long n)
{
    if (n > 0 && q > -1.0 && q < static_cast<double>(n) && q < 9.2e18) return static_cast<long>(q);
    return -1;
}

// Subtracts whole turns while lon lies east of `limit`. False when the
// longitude cannot be brought there.
bool turn_west_to(double &lon, double limit)
{
    if (!(lon > limit)) return true;
    if (!(lon - limit < kFarthest)) return false;
    if (lon - limit > kOneStepDistance) lon -= floor((lon - limit) / kTurn) * kTurn;
    for (int n = 0; lon > limit; n++) {
        if (n == kMaxTurns || !isfinite(lon)) return false;
        lon -= kTurn;
    }
    return true;
}

// Adds whole turns while lon lies west of `limit`.
bool turn_east_to(double &lon, double limit)
{
    if (!(lon < limit)) return true;
    if (!(limit - lon < kFarthest)) return false;
    if (limit - lon > kOneStepDistance) lon += floor((limit - lon) / kTurn) * kTurn;
    for (int n = 0; lon < limit; n++) {
        if (n == kMaxTurns || !isfinite(lon)) return false;
        lon += kTurn;
    }
    return true;
}

// Turns lon into the span that runs from `start` to `end` (eastward when
// `width` is positive, westward when negative). A span running east is
// entered from its east end first: lon is lowered below `end`, then raised
// above `start`; a span running west is its mirror image. False when the
// longitude lies outside after turning, or cannot be turned at all; a zero
// width holds nothing.
bool turn_into_span(double &lon, double start, double end, double width)
{
    if (!isfinite(lon) || !isfinite(start) || !isfinite(end)) return false;
    if (width > 0) return turn_west_to(lon, end) && turn_east_to(lon, start) && !(lon > end);
    if (width < 0) return turn_east_to(lon, end) && turn_west_to(lon, start) && !(lon < end);
    return false;
}

// Sample row of `lat` inside the tile at lattice row ilat_tile, or -1.
long orvex_pixel_row(const OrvexResolution *resolution, const OrvexGrid *grid, long ilat_tile,
                     double lat)
{
    double lat_start = grid->lat_start + ilat_tile * resolution->dlat_tiles;
    return truncated_index((lat - lat_start) / grid->dlat, grid->nlat_per_tile);
}

// Sample column of `lon` inside the tile at lattice column ilon_tile,
// turning the longitude by whole turns into the tile, or -1.
long orvex_pixel_col(const OrvexResolution *resolution, const OrvexGrid *grid, long ilon_tile,
                     double lon)
{
    double lon_start = grid->lon_start + ilon_tile * resolution->dlon_tiles;
    double lon_end = lon_start + resolution->dlon_tiles;
    // The sign of the sample spacing decides the direction, not the tile's.
    if (!turn_into_span(lon, lon_start, lon_end, grid->dlon)) return -1;
    return truncated_index((lon - lon_start) / grid->dlon, grid->nlon_per_tile);
}

}  // namespace

int Orvex::findTile(OrvexResolution *resolution, double lat, double lon, int *tile, long *tilerow,
                    long *tilecol)
{
    *tile = -1;
    *tilerow = -1;
    *tilecol = -1;
    const OrvexResolution &r = *resolution;
    long row = truncated_index((lat - r.lat_start_tiles) / r.dlat_tiles, r.nlat_tiles);
    if (row < 0) return 0;
    double lon_end = r.lon_start_tiles + r.nlon_tiles * r.dlon_tiles;
    if (!turn_into_span(lon, r.lon_start_tiles, lon_end, r.dlon_tiles)) return 0;
    long col = truncated_index((lon - r.lon_start_tiles) / r.dlon_tiles, r.nlon_tiles);
    if (col < 0) return 0;
    // Tile numbers are ints: a lattice too large for them locates nothing
    // beyond INT_MAX rather than a wrong tile.
    long number;
    if (__builtin_mul_overflow(row, r.nlon_tiles, &number) || number > INT_MAX - col) return 0;
    *tile = static_cast<int>(number + col);
    *tilerow = row;
    *tilecol = col;
    return 0;
}

int Orvex::findTile(int resolution, double lat, double lon, int *tile, long *tilerow,
                    long *tilecol)
{
    if (resolution < 0 || resolution >= frame.nresolutions) {
        *tile = -1;
        *tilerow = -1;
        *tilecol = -1;
        return 0;
    }
    return findTile(&frame.resolutions[resolution], lat, lon, tile, tilerow, tilecol);
}

int Orvex::findPixelWithinTile(OrvexResolution *resolution, OrvexGrid *grid, long ilat_tile,
                               long ilon_tile, double lat, double lon, long *row, long *col,
                               long *offset)
{
    *offset = -1;
    *row = -1;
    *col = -1;
    long r = orvex_pixel_row(resolution, grid, ilat_tile, lat);
    if (r < 0) return 0;
    long c = orvex_pixel_col(resolution, grid, ilon_tile, lon);
    if (c < 0) return 0;
    *row = r;
    *col = c;
    *offset = (r * grid->nlon_per_tile + c) * (grid->content == 1 ? 2 : 3);
    return 0;
}

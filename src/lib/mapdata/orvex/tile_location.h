/*
 * The two halves of locating a sample inside a grid tile: the sample row
 * depends only on the latitude, the sample column only on the longitude.
 * findPixelWithinTile is built from them, and the grid tile writer calls
 * them once per window row and column, so both give the very same answers.
 */
#ifndef ORVEX_TILE_LOCATION_H
#define ORVEX_TILE_LOCATION_H

#include "Orvex.h"

/* Sample row of `lat` inside the tile at lattice row ilat_tile, or -1. */
long orvex_pixel_row(const OrvexResolution *resolution, const OrvexGrid *grid, long ilat_tile,
                     double lat);
/* Sample column of `lon` inside the tile at lattice column ilon_tile,
 * turning the longitude by whole turns as the location rule says, or -1. */
long orvex_pixel_col(const OrvexResolution *resolution, const OrvexGrid *grid, long ilon_tile,
                     double lon);

#endif

// The display road in a few lines: open a map file (the default map when no
// name is given), then for every grid resolution find the tile and sample
// that hold a latitude/longitude and print the elevation or colour there;
// for every vector resolution, the nearest point of the tile's lines.
//
//   orvex_lookup LAT LON [MAP]

#include <orvex/Orvex.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* The point of a vector tile nearest to lat/lon, by a flat measure in
 * degrees (enough to name it). Points are read with orvex_get_point: a
 * map file does not align them. */
static void print_nearest_point(const OrvexVectorTile *tile, double lat, double lon)
{
    double best = -1, best_lat = 0, best_lon = 0;
    for (long s = 0; s < tile->nsegments; s++) {
        const OrvexVectorSegment *seg = &tile->segments[s];
        OrvexXY p;
        for (long i = 0; i < seg->npts; i++) {
            orvex_get_point(seg, i, &p);
            double y = p.lat_microdegrees * 1e-6, x = p.lon_microdegrees * 1e-6;
            double dx = fmod(fabs(x - lon), 360.0);
            if (dx > 180) dx = 360 - dx;
            double d = (y - lat) * (y - lat) + dx * dx;
            if (best < 0 || d < best) best = d, best_lat = y, best_lon = x;
        }
    }
    if (best < 0)
        printf(" no lines\n");
    else
        printf(" nearest point %.6f %.6f\n", best_lat, best_lon);
}

int main(int argc, char **argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: %s LAT LON [MAP]\n", argv[0]);
        return 2;
    }
    double lat = atof(argv[1]), lon = atof(argv[2]);
    Orvex map;
    if (map.setInput(argc > 3 ? argv[3] : NULL, 0, NULL) < 0) {
        elog_print(stderr);
        return 1;
    }
    for (long r = 0; r < map.frame.nresolutions; r++) {
        OrvexResolution *res = &map.frame.resolutions[r];
        char *kind = orvex_maptype2str((int)res->map_type);
        printf("%ld %s %s:", r, kind, res->name);
        free(kind);
        int tile;
        long row, col, offset;
        if (res->map_type == 1) {
            if (map.findTile(res, lat, lon, &tile, &row, &col) < 0 || tile < 0)
                printf(" outside\n");
            else
                print_nearest_point(&((OrvexVector *)res->data)->tiles[tile], lat, lon);
            continue;
        }
        if (res->map_type != 0 ||
            (map.findNearestPixel(res, lat, lon, &tile, &row, &col, &offset), tile < 0)) {
            printf(" outside\n");
            continue;
        }
        OrvexGrid *grid = (OrvexGrid *)res->data;
        unsigned char *samples;
        if (map.getTileGrid((int)r, tile, &samples) < 0) {
            printf(" unavailable\n");
            continue;
        }
        if (grid->content == 1) {
            short z;
            memcpy(&z, samples + offset, 2);
            printf(" tile %d elevation %d\n", tile, z);
        } else {
            printf(" tile %d colour %d %d %d\n", tile, samples[offset], samples[offset + 1],
                   samples[offset + 2]);
        }
    }
    return 0;
}

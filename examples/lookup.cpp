// The display road in a few lines: open a map file (the default map when no
// name is given), then for every grid resolution find the tile and sample
// that hold a latitude/longitude and print the elevation or colour there.
//
//   orvex_lookup LAT LON [MAP]

#include <orvex/Orvex.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

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

#include "vector_inputs.h"

#include <stdlib.h>
#include <string.h>

void vector_memory_input(Orvex &o, const VectorTileBox &box, const std::vector<VectorRing> &rings,
                         long map_type)
{
    OrvexResolution *res = static_cast<OrvexResolution *>(calloc(1, sizeof(OrvexResolution)));
    strcpy(res->source.fname, "memory");
    res->source.map_type = ORVEX_MAP_VECTOR;
    res->map_type = map_type;
    res->degrees_per_pixel = 0.5;
    res->lon_start_tiles = -180.0;
    res->dlon_tiles = 360.0;
    res->lat_start_tiles = 90.0;
    res->dlat_tiles = -180.0;
    res->nlon_tiles = res->nlat_tiles = res->ntiles = 1;
    o.frame.resolutions = res;
    o.frame.nresolutions = 1;
    if (map_type != ORVEX_MAP_VECTOR) return;

    OrvexVector *v = static_cast<OrvexVector *>(calloc(1, sizeof(OrvexVector)));
    v->lonmin = -180;
    v->lonmax = 180;
    v->latmin = -90;
    v->latmax = 90;
    v->tiles = static_cast<OrvexVectorTile *>(calloc(1, sizeof(OrvexVectorTile)));
    res->data = v;
    OrvexVectorTile &t = v->tiles[0];
    t.lonmin = box.lonmin;
    t.lonmax = box.lonmax;
    t.latmin = box.latmin;
    t.latmax = box.latmax;
    t.nsegments = static_cast<long>(rings.size());
    t.segments = static_cast<OrvexVectorSegment *>(calloc(rings.size() + 1, sizeof(OrvexVectorSegment)));
    for (size_t s = 0; s < rings.size(); s++) {
        OrvexVectorSegment &seg = t.segments[s];
        seg.level = 1;
        seg.fill = 1;
        seg.npts = static_cast<long>(rings[s].size());
        seg.pts = static_cast<OrvexXY *>(calloc(rings[s].size() + 1, sizeof(OrvexXY)));
        for (size_t i = 0; i < rings[s].size(); i++) {
            seg.pts[i].lon_microdegrees = rings[s][i].first;
            seg.pts[i].lat_microdegrees = rings[s][i].second;
        }
        OrvexPrivate::adoptPoints(&o, seg.pts);
    }
}

// The life of an Orvex object: construction, the frame it owns, the point
// arrays it adopts, and teardown.

#include <stdlib.h>
#include <sys/mman.h>
#include <unistd.h>

#include "OrvexInternal.h"

namespace {

// A registry value: the list of OrvexInput records of one output resolution.
void free_input_list(void *list)
{
    freetbl(static_cast<Tbl *>(list), free);
}

void free_grid(OrvexGrid *grid)
{
    free(grid->tiles);
    free(grid);
}

void free_vector(OrvexVector *vector, long ntiles)
{
    if (vector->tiles) {
        for (long t = 0; t < ntiles; t++) free(vector->tiles[t].segments);
        free(vector->tiles);
    }
    free(vector);
}

}  // namespace

Orvex::Orvex()
    : src_arr(newarr(nullptr)),
      append(0),
      file_stream(nullptr),
      file_size(0),
      fname(nullptr),
      fd(-1),
      nresolutions_offset(0),
      tiles_offset(0),
      dbname(nullptr),
      db(dbinvalid()),
      owned_pts(nullptr),
      nowned_pts(0),
      owned_pts_capacity(0),
      end_of_headers(0),
      payload_written(0)
{
}

void Orvex::releaseFrame()
{
    for (long r = 0; r < frame.nresolutions; r++) {
        OrvexResolution &res = frame.resolutions[r];
        if (!res.data) continue;
        if (res.map_type == ORVEX_MAP_GRID)
            free_grid(static_cast<OrvexGrid *>(res.data));
        else if (res.map_type == ORVEX_MAP_VECTOR)
            free_vector(static_cast<OrvexVector *>(res.data), res.ntiles);
        else
            continue;  // a resolution of unknown type never owns data
        res.data = nullptr;
    }
    free(frame.resolutions);
    frame.resolutions = nullptr;
    frame.nresolutions = 0;
    for (long i = 0; i < nowned_pts; i++) free(owned_pts[i]);
    free(owned_pts);
    owned_pts = nullptr;
    nowned_pts = owned_pts_capacity = 0;
}

Orvex::~Orvex()
{
    // No entry may outlive the object it names (a later object could come
    // to the same address): its own tiles go even if held. Without a
    // budget every other tile nobody holds goes too, as it always has;
    // under a budget the cache bounds itself.
    orvex_cache_forget(this);
    if (orvex_cache_budget() == 0) cleanCache(0, 1);
    if (file_stream) {
        munmap(file_stream, static_cast<size_t>(file_size));
        file_stream = nullptr;
    }
    if (fd >= 0) {
        close(fd);
        fd = -1;
    }
    releaseFrame();
    free(fname);
    free(dbname);
    freearr(src_arr, free_input_list);
}

int Orvex::adoptPoints(OrvexXY *pts)
{
    if (!pts) return 0;
    if (nowned_pts == owned_pts_capacity) {
        long grown = owned_pts_capacity ? owned_pts_capacity * 2 : 16;
        void *p = orvex_sys_realloc(owned_pts, static_cast<size_t>(grown) * sizeof(OrvexXY *));
        if (!p) {
            orvex_register_error(1, "Orvex::adoptPoints: realloc(points) error.\n");
            return -1;
        }
        owned_pts = static_cast<OrvexXY **>(p);
        owned_pts_capacity = grown;
    }
    owned_pts[nowned_pts++] = pts;
    return 0;
}

// Writing the tiles of a declared grid resolution. Each tile's samples are
// made from the source tile registered for its resolution (the highest
// valid elevation, or the average colour, of a window around every dec-th
// source sample), appended at the end of the file as one zlib stream or
// raw, and its index entry receives the payload's position first, then its
// size and elevation range.

#include <stdio.h>

#include "OrvexInternal.h"
#include "grid_tile_writer.h"
#include "sample_index.h"

namespace {

int fail(int flag, const char *what)
{
    return orvex_tile_writer_fail(flag, what);
}

}  // namespace

const OrvexInput *orvex_grid_registered_input(Orvex *o, int output_resolution)
{
    char key[32];
    snprintf(key, sizeof key, "%d", output_resolution);
    Tbl *list = static_cast<Tbl *>(getarr(o->src_arr, key));
    const OrvexInput *in = list ? static_cast<OrvexInput *>(gettbl(list, 0)) : nullptr;
    return in && in->input ? in : nullptr;
}

// Preparation up to the source samples: registry, ranges, geometry, in the
// order the failures are reported. Only reads the objects (and the shared
// cache), so worker threads may prepare tiles side by side.
int orvex_grid_tile_prepare(Orvex *o, int output_resolution, int output_tile, OrvexTileJob *j,
                            OrvexGridTile **entry)
{
    if (o->fd == -1) return fail(0, "first need to open output file with setOutput()");
    const OrvexInput *in = orvex_grid_registered_input(o, output_resolution);
    if (!in) return fail(0, "Cannot find input for this output resolution");
    if (output_resolution < 0 || output_resolution >= o->frame.nresolutions)
        return fail(0, "output resolution out of range");
    Orvex *input = in->input;
    if (in->resolution < 0 || in->resolution >= input->frame.nresolutions)
        return fail(0, "registered input resolution out of range");
    const OrvexResolution &s = input->frame.resolutions[in->resolution];
    if (s.map_type != ORVEX_MAP_GRID || !s.data) return fail(0, "input map type must be grid");
    const OrvexResolution &d = o->frame.resolutions[output_resolution];
    if (d.map_type != ORVEX_MAP_GRID || !d.data) return fail(0, "output map type must be grid");
    if (output_tile < 0 || output_tile >= d.ntiles) return fail(0, "output tile out of range");
    if (in->tile < 0 || in->tile >= s.ntiles) return fail(0, "registered input tile out of range");

    j->sg = static_cast<const OrvexGrid *>(s.data);
    OrvexGrid *dg = static_cast<OrvexGrid *>(d.data);
    j->dg = dg;
    *entry = &dg->tiles[output_tile];
    j->dec = dg->decimation_factor;
    if (j->dec < 1) return fail(0, "decimation factor must be at least 1");
    // The output covers the registered source tile from its corner: source
    // rows and columns count from there, and the declared samples must lie
    // inside it.
    j->src_nlat = j->sg->nlat_per_tile;
    j->src_nlon = j->sg->nlon_per_tile;
    if (dg->nlon > j->src_nlon / j->dec)
        return fail(0, "decimation factor must be integer multiple of source width");
    if (dg->nlat > j->src_nlat / j->dec)
        return fail(0, "decimation factor must be integer multiple of source height");
    long ilat_tile = output_tile / d.nlon_tiles;
    long ilon_tile = output_tile - ilat_tile * d.nlon_tiles;
    j->ilat = ilat_tile * dg->nlat_per_tile * j->dec;
    j->ilon = ilon_tile * dg->nlon_per_tile * j->dec;
    j->period = orvex_turn_columns(j->sg->dlon, j->src_nlon);

    unsigned char *src = nullptr;
    if (orvex_hold_tile_as(input, "Orvex::getTileGrid", in->resolution, in->tile, &src) < 0) return fail(0, "getTileGrid() error");
    j->held_input = input;
    j->held_resolution = in->resolution;
    j->held_tile = in->tile;
    j->src = src;
    // Samples read in place from a file's mapping: the file can tell where
    // it holds no data.
    j->src_fd = -1;
    if (input->fd >= 0 && input->file_stream && src >= input->file_stream &&
        src < input->file_stream + input->file_size) {
        j->src_fd = input->fd;
        j->src_at = static_cast<long>(src - input->file_stream);
    }
    orvex_window_reach(j->dec, &j->dec0, &j->dec1);
    j->swap = s.data_type == ORVEX_DATA_DEMB;
    return 0;
}

int orvex_grid_mark_payload_start(Orvex *o, const OrvexGridTile &entry)
{
    long s0 = orvex_tell(o->fd);
    if (s0 < 0) return fail(1, "lseek() error.");
    long buf_field = reinterpret_cast<long>(entry.buf);
    if (buf_field > s0)
        return fail(1, "internal offset error probably caused by repeated attempt to write into "
                       "same tile.");
    int rc = orvex_write_at(o->fd, buf_field, &s0, sizeof s0);
    if (rc == ORVEX_IO_SEEK) return fail(1, "lseek() error.");
    if (rc != ORVEX_IO_OK) return fail(1, "write() error.");
    OrvexPrivate::payloadWritten(o) = 1;  // later declarations would land after it
    return 0;
}

// The size first, then the elevation range.
int orvex_grid_complete_entry(Orvex *o, const OrvexGridTile &entry, unsigned long nbuf, long zmin,
                              long zmax)
{
    const long fields[3] = {static_cast<long>(entry.nbuf), entry.zmin, entry.zmax};
    const long values[3] = {static_cast<long>(nbuf), zmin, zmax};
    for (int i = 0; i < 3; i++) {
        int rc = orvex_write_at(o->fd, fields[i], &values[i], sizeof values[i]);
        if (rc == ORVEX_IO_SEEK) return fail(1, "lseek() error.");
        if (rc != ORVEX_IO_OK) return fail(1, "write() error.");
    }
    return 0;
}

bool orvex_grid_tile_fed_rows(Orvex *o, int output_resolution, long tile, Orvex **input, long *row0,
                              long *row1)
{
    const OrvexInput *in = orvex_grid_registered_input(o, output_resolution);
    if (!in || !in->input->rowFeed() || in->input->frame.nresolutions < 1 || output_resolution < 0 ||
        output_resolution >= o->frame.nresolutions)
        return false;
    const OrvexResolution &d = o->frame.resolutions[output_resolution];
    const OrvexResolution &s = in->input->frame.resolutions[0];
    if (d.map_type != ORVEX_MAP_GRID || !d.data || d.nlon_tiles < 1 || !s.data) return false;
    const OrvexGrid *dg = static_cast<const OrvexGrid *>(d.data);
    const OrvexGrid *sg = static_cast<const OrvexGrid *>(s.data);
    long dec = dg->decimation_factor < 1 ? 1 : dg->decimation_factor, dec0, dec1;
    orvex_window_reach(dec, &dec0, &dec1);
    long ilat = tile / d.nlon_tiles * dg->nlat_per_tile * dec;
    long first = ilat - dec0, end = ilat + (dg->nlat_per_tile - 1) * dec + dec1;
    *input = in->input;
    *row0 = first < 0 ? 0 : first > sg->nlat_per_tile ? sg->nlat_per_tile : first;
    *row1 = end < *row0 ? *row0 : end > sg->nlat_per_tile ? sg->nlat_per_tile : end;
    return true;
}

int orvex_write_tile_grid(Orvex *o, int output_resolution, int output_tile, double gamma, double lightmin)
{
    OrvexTileJob job;
    OrvexGridTile *entry = nullptr;
    if (orvex_grid_tile_prepare(o, output_resolution, output_tile, &job, &entry) < 0) return -1;
    OrvexPayloadSink sink(o->fd, job.dg->compressed != 0);
    if (sink.open(orvex_grid_tile_bytes(job.dg)) < 0) return -1;
    if (orvex_grid_mark_payload_start(o, *entry) < 0) return -1;
    long zmin, zmax;
    if (orvex_sample_tile(job, sink, gamma, lightmin, &zmin, &zmax) < 0) return -1;
    if (sink.finish() < 0) return -1;
    return orvex_grid_complete_entry(o, *entry, sink.payload_bytes(), zmin, zmax);
}

int orvex_make_tile_grid(Orvex *o, int output_resolution, int output_tile, double gamma, double lightmin, int fd,
                         OrvexGridTile **entry, unsigned long *nbuf, long *zmin, long *zmax)
{
    OrvexTileJob job;
    if (orvex_grid_tile_prepare(o, output_resolution, output_tile, &job, entry) < 0) return -1;
    OrvexPayloadSink sink(fd, job.dg->compressed != 0);
    if (sink.open(orvex_grid_tile_bytes(job.dg)) < 0) return -1;
    if (orvex_sample_tile(job, sink, gamma, lightmin, zmin, zmax) < 0) return -1;
    if (sink.finish() < 0) return -1;
    *nbuf = sink.payload_bytes();
    return 0;
}

// A tile on its own supplies the fed rows it reads and releases them after.
int Orvex::writeTileDataGrid(int output_resolution, int output_tile, double gamma, double lightmin)
{
    OrvexFedRows rows;
    if (rows.acquire(this, output_resolution, output_tile) < 0) return -1;
    return orvex_write_tile_grid(this, output_resolution, output_tile, gamma, lightmin);
}

// Deflate dominates a build, so tiles are made on several threads when
// there are several of both; one thread, or a parallel build that cannot
// get its threads or memory, writes them one by one.
static int write_build(Orvex *o, OrvexBuildRun *run)
{
    int workers = orvex_grid_worker_count(o);
    int rc = workers > 1 ? orvex_write_tiles_parallel(o, run, workers) : 1;
    if (rc > 0) rc = orvex_write_tiles_in_turn(o, run);
    return rc;
}

int Orvex::writeDataGrid(double gamma, double lightmin)
{
    OrvexBuildRun run;
    run.gamma = gamma;
    run.lightmin = lightmin;
    int rc = write_build(this, &run);
    if (rc < 0) orvex_register_error(1, "Orvex::writeData: writeTileDataGrid() error.\n");
    return rc;
}

int Orvex::writeData(const OrvexWriteOptions &options)
{
    OrvexBuildRun run;
    run.gamma = options.gamma;
    run.lightmin = options.lightmin;
    run.mixed = true;
    run.cache_budget = options.cache_budget;
    run.progress = options.progress;
    run.progress_arg = options.progress_arg;
    int rc = write_build(this, &run);
    if (rc < 0)
        orvex_register_error(1, "Orvex::writeData: %s() error.\n",
                             run.failed_vector ? "writeTileDataVector" : "writeTileDataGrid");
    return rc;
}

// Writing the points of vector tiles. For every input registered for the
// output resolution, in registration order, and every segment of that
// input's tile, the points are appended at the end of the file in host
// order with continuous longitudes, and the segment record written by the
// header writer is patched with the position of its first point.
//
// Points are decoded into a fixed buffer and written a buffer at a time;
// the file, the final position and the messages are those of writing them
// one by one.

#include <limits.h>
#include <stdio.h>

#include "OrvexInternal.h"

namespace {

const long kBufferPoints = 8192;  // 64 KiB of points per write

int io_failure(int rc)
{
    if (rc == ORVEX_IO_SEEK)
        orvex_register_error(1, "Orvex::writeTileDataVector: lseek() error.\n");
    else
        orvex_register_error(1, "Orvex::writeTileDataVector: write() error.\n");
    return -1;
}

// Decodes n points (big-endian for a GSHHS source) into `out` in host
// order, unwrapping their longitudes. False when an unwrapped longitude no
// longer fits 32 bits.
bool decode_points(const OrvexXY *in, long n, bool big_endian, OrvexLonUnwrapper &unwrap,
                   OrvexXY *out)
{
    if (big_endian)
        N2H4(reinterpret_cast<unsigned char *>(out), reinterpret_cast<const unsigned char *>(in),
             2 * n);
    else if (n > 0)
        memcpy(out, in, static_cast<size_t>(n) * sizeof(OrvexXY));
    for (long i = 0; i < n; i++) {
        long x = unwrap.next(out[i].lon_microdegrees);
        if (x < INT_MIN || x > INT_MAX) return false;
        out[i].lon_microdegrees = static_cast<int>(x);
    }
    return true;
}

// Appends the points of one input segment and patches its output record.
int write_segment(int fd, const OrvexVectorSegment &in, const OrvexVectorSegment &out,
                  bool big_endian, OrvexXY *buffer)
{
    long position = orvex_tell(fd);
    if (position < 0) return io_failure(ORVEX_IO_SEEK);
    int rc = orvex_write_at(fd, reinterpret_cast<long>(out.pts), &position, sizeof position);
    if (rc != ORVEX_IO_OK) return io_failure(rc);

    OrvexLonUnwrapper unwrap;
    for (long done = 0; done < in.npts; done += kBufferPoints) {
        long n = in.npts - done < kBufferPoints ? in.npts - done : kBufferPoints;
        if (!decode_points(in.pts + done, n, big_endian, unwrap, buffer)) {
            orvex_register_error(0,
                                 "Orvex::writeTileDataVector: segment winds around the globe too "
                                 "often for 32-bit longitudes\n");
            return -1;
        }
        rc = orvex_write_all(fd, buffer, static_cast<size_t>(n) * sizeof(OrvexXY));
        if (rc != ORVEX_IO_OK) return io_failure(rc);
    }
    return 0;
}

// The input tile a registry entry names, after checking that it still
// exists and is vector; null (message registered) otherwise.
const OrvexVectorTile *entry_tile(const OrvexInput *entry, long *data_type)
{
    Orvex *input = entry->input;
    if (!input || entry->resolution < 0 || entry->resolution >= input->frame.nresolutions) {
        orvex_register_error(0, "Orvex::writeTileDataVector: input resolution out of range\n");
        return nullptr;
    }
    const OrvexResolution &res = input->frame.resolutions[entry->resolution];
    if (res.map_type != ORVEX_MAP_VECTOR) {
        orvex_register_error(0, "Orvex::writeTileDataVector: input map type must be vector\n");
        return nullptr;
    }
    const OrvexVector *vector = static_cast<const OrvexVector *>(res.data);
    if (entry->tile < 0 || entry->tile >= res.ntiles || !vector || !vector->tiles) {
        orvex_register_error(0, "Orvex::writeTileDataVector: input tile out of range\n");
        return nullptr;
    }
    *data_type = res.data_type;
    return &vector->tiles[entry->tile];
}

// The output records were copied from the input when the resolution was
// declared; points written from an input changed since then would not
// match their records, so such a tile is refused rather than corrupted.
bool matches_declaration(const OrvexVectorTile &in, const OrvexVectorTile &out, long cursor)
{
    if (in.nsegments > out.nsegments - cursor) {
        orvex_register_error(0,
                             "Orvex::writeTileDataVector: the inputs hold more segments than the "
                             "tile declared (%ld)\n",
                             out.nsegments);
        return false;
    }
    for (long s = 0; s < in.nsegments; s++) {
        if (in.segments[s].npts != out.segments[cursor + s].npts) {
            orvex_register_error(0,
                                 "Orvex::writeTileDataVector: segment %ld of an input changed "
                                 "since the resolution was declared (%ld points then, %ld now)\n",
                                 s, out.segments[cursor + s].npts, in.segments[s].npts);
            return false;
        }
    }
    return true;
}

// The output tile, after the checks on the resolution and tile indexes.
OrvexVectorTile *output_tile(Orvex *o, int output_resolution, int output_tile)
{
    if (output_resolution < 0 || output_resolution >= o->frame.nresolutions) {
        orvex_register_error(0, "Orvex::writeTileDataVector: output resolution out of range\n");
        return nullptr;
    }
    const OrvexResolution &res = o->frame.resolutions[output_resolution];
    if (res.map_type != ORVEX_MAP_VECTOR) {
        orvex_register_error(0, "Orvex::writeTileDataVector: output map type must be vector\n");
        return nullptr;
    }
    OrvexVector *vector = static_cast<OrvexVector *>(res.data);
    if (output_tile < 0 || output_tile >= res.ntiles || !vector || !vector->tiles) {
        orvex_register_error(0, "Orvex::writeTileDataVector: output tile out of range\n");
        return nullptr;
    }
    return &vector->tiles[output_tile];
}

}  // namespace

int Orvex::writeTileDataVector(int output_resolution, int output_tile_index)
{
    if (fd == -1) {
        orvex_register_error(0,
                             "Orvex::writeTileDataVector: first need to open output file with "
                             "setOutput()\n");
        return -1;
    }
    char key[64];
    snprintf(key, sizeof key, "%d", output_resolution);
    Tbl *list = static_cast<Tbl *>(getarr(src_arr, key));
    if (!list) {
        orvex_register_error(0,
                             "Orvex::writeTileDataVector: Cannot find input for this output "
                             "resolution\n");
        return -1;
    }
    OrvexVectorTile *out = output_tile(this, output_resolution, output_tile_index);
    if (!out) return -1;
    const char *label = frame.resolutions[output_resolution].resolution;

    OrvexXY buffer[kBufferPoints];
    long cursor = 0;
    for (long e = 0; e < maxtbl(list); e++) {
        long data_type = 0;
        const OrvexVectorTile *in = entry_tile(static_cast<OrvexInput *>(gettbl(list, e)), &data_type);
        if (!in) return -1;
        printf("Orvex::writeTileDataVector: Processing resolution=%s\n", label);
        if (!matches_declaration(*in, *out, cursor)) return -1;
        // From the first patch on, the file end no longer follows the
        // headers: no resolution may be declared after this.
        OrvexPrivate::payloadWritten(this) = 1;
        for (long s = 0; s < in->nsegments; s++, cursor++) {
            if (write_segment(fd, in->segments[s], out->segments[cursor],
                              data_type == ORVEX_DATA_GSHHS, buffer) < 0)
                return -1;
        }
    }
    if (cursor != out->nsegments) {
        orvex_register_error(0,
                             "Orvex::writeTileDataVector: the inputs hold %ld segments, the tile "
                             "declared %ld\n",
                             cursor, out->nsegments);
        return -1;
    }
    return 0;
}

int Orvex::writeDataVector()
{
    for (long r = 0; r < frame.nresolutions; r++) {
        for (long t = 0; t < frame.resolutions[r].ntiles; t++) {
            if (writeTileDataVector(static_cast<int>(r), static_cast<int>(t)) < 0) {
                orvex_register_error(1, "Orvex::writeData: writeTileDataVector() error.\n");
                return -1;
            }
        }
    }
    return 0;
}

// Writing the points of vector tiles. For every input registered for the
// output resolution, in registration order, and every segment of that
// input's tile, the points are appended at the end of the file in host
// order with continuous longitudes, and the segment record written by the
// header writer is patched with the position of its first point.
//
// Points are decoded into a fixed buffer and written a buffer at a time,
// and the pending patches of a buffer go out together, as one write per run
// of adjacent segment records (the records are rewritten whole, from the
// same in-memory images they were first written from). On success the file
// and the final position are those of writing point by point; a few large
// writes instead of several small ones per segment keep the writer close
// to the cost of copying the bytes. Every registry entry is checked before
// anything is printed or written, so a refused tile leaves the file as it
// was.

#include <limits.h>
#include <stdio.h>
#include <stdlib.h>

#include "OrvexInternal.h"

namespace {

int io_failure(int rc)
{
    return orvex_io_failure("Orvex::writeTileDataVector", rc);
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
    return unwrap.unwrapInPlace(out, n);
}

// Collects the points of one output tile and writes them at the end of the
// file, with the patches of their segment records.
class TilePointWriter {
public:
    // `npts` is the tile's total point count: the buffer takes up to 1 MiB
    // of them, or the small buffer on the stack when memory is short.
    TilePointWriter(int fd, const OrvexVectorSegment *out, long npts) : fd_(fd), out_(out)
    {
        long want = npts < kLargePoints ? npts : kLargePoints;
        if (want > kSmallPoints)
            heap_ = static_cast<OrvexXY *>(orvex_sys_malloc(static_cast<size_t>(want) * sizeof(OrvexXY)));
        buf_ = heap_ ? heap_ : small_;
        capacity_ = heap_ ? want : kSmallPoints;
    }
    ~TilePointWriter() { free(heap_); }
    TilePointWriter(const TilePointWriter &) = delete;
    TilePointWriter &operator=(const TilePointWriter &) = delete;

    // Takes the file end, where the first point will go.
    int begin()
    {
        end_ = orvex_tell(fd_);
        return end_ < 0 ? io_failure(ORVEX_IO_SEEK) : 0;
    }

    // Queues the points of input segment `in` for output segment `index`;
    // indexes follow one another from the tile's first segment.
    int add(const OrvexVectorSegment &in, long index, bool big_endian)
    {
        if (npending_ == kMaxPending && flush() < 0) return -1;
        if (npending_ == 0) first_pending_ = index;
        position_[npending_++] = end_ + nbuf_ * static_cast<long>(sizeof(OrvexXY));
        OrvexLonUnwrapper unwrap;
        for (long done = 0; done < in.npts;) {
            if (nbuf_ == capacity_ && flush() < 0) return -1;
            long n = in.npts - done < capacity_ - nbuf_ ? in.npts - done : capacity_ - nbuf_;
            if (!decode_points(in.pts + done, n, big_endian, unwrap, buf_ + nbuf_)) {
                orvex_register_error(0,
                                     "Orvex::writeTileDataVector: segment winds around the globe "
                                     "too often for 32-bit longitudes\n");
                return -1;
            }
            nbuf_ += n;
            done += n;
        }
        return 0;
    }

    // Patches the pending records, then appends the buffered points.
    int flush()
    {
        if (patch_pending() < 0) return -1;
        int rc = orvex_write_all(fd_, buf_, static_cast<size_t>(nbuf_) * sizeof(OrvexXY));
        if (rc != ORVEX_IO_OK) return io_failure(rc);
        end_ += nbuf_ * static_cast<long>(sizeof(OrvexXY));
        nbuf_ = 0;
        return 0;
    }

private:
    static const long kLargePoints = 131072;  // 1 MiB: few, large writes
    static const long kSmallPoints = 4096;
    static const long kMaxPending = 1024;
    static const long kRunRecords = 128;

    // The file position of output segment k's `pts` field.
    long field_of(long k) const { return reinterpret_cast<long>(out_[k].pts); }

    // Rewrites the pending records, a run of adjacent records at a time.
    int patch_pending()
    {
        long i = 0;
        while (i < npending_) {
            long run = 1;
            while (i + run < npending_ && run < kRunRecords &&
                   field_of(first_pending_ + i + run) ==
                       field_of(first_pending_ + i + run - 1) + static_cast<long>(sizeof(OrvexVectorSegment)))
                run++;
            for (long r = 0; r < run; r++) {
                images_[r] = out_[first_pending_ + i + r];
                images_[r].pts = reinterpret_cast<OrvexXY *>(position_[i + r]);
            }
            long at = field_of(first_pending_ + i) - 32;  // pts is a record's last 8 bytes
            int rc = orvex_write_at(fd_, at, images_, static_cast<size_t>(run) * sizeof(OrvexVectorSegment));
            if (rc != ORVEX_IO_OK) return io_failure(rc);
            i += run;
        }
        npending_ = 0;
        return 0;
    }

    int fd_;
    const OrvexVectorSegment *out_;
    long end_ = 0;
    long nbuf_ = 0;
    long first_pending_ = 0;
    long npending_ = 0;
    long position_[kMaxPending];
    OrvexVectorSegment images_[kRunRecords];
    OrvexXY *heap_ = nullptr;
    OrvexXY *buf_;
    long capacity_;
    OrvexXY small_[kSmallPoints];
};

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

    long cursor = 0;
    for (long e = 0; e < maxtbl(list); e++) {
        long data_type = 0;
        const OrvexVectorTile *in = entry_tile(static_cast<OrvexInput *>(gettbl(list, e)), &data_type);
        if (!in || !matches_declaration(*in, *out, cursor)) return -1;
        cursor += in->nsegments;
    }
    if (cursor != out->nsegments) {
        orvex_register_error(0,
                             "Orvex::writeTileDataVector: the inputs hold %ld segments, the tile "
                             "declared %ld\n",
                             cursor, out->nsegments);
        return -1;
    }

    // From here on the file end no longer follows the headers: no
    // resolution may be declared after this.
    OrvexPrivate::payloadWritten(this) = 1;
    long npts = 0;
    for (long s = 0; s < out->nsegments; s++) npts += out->segments[s].npts;
    TilePointWriter writer(fd, out->segments, npts);
    if (writer.begin() < 0) return -1;
    cursor = 0;
    for (long e = 0; e < maxtbl(list); e++) {
        long data_type = 0;
        const OrvexVectorTile *in = entry_tile(static_cast<OrvexInput *>(gettbl(list, e)), &data_type);
        printf("Orvex::writeTileDataVector: Processing resolution=%s\n", label);
        for (long s = 0; s < in->nsegments; s++, cursor++)
            if (writer.add(in->segments[s], cursor, data_type == ORVEX_DATA_GSHHS) < 0) return -1;
    }
    return writer.flush();
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

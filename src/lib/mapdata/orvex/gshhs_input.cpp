// GSHHS shoreline input: polygon after polygon, each a big-endian header
// (36 bytes up to version 3, 44 bytes after) followed by its points as
// big-endian microdegrees. The scan builds one vector resolution of one
// tile whose segments address the points inside the mapping, unconverted.
//
// The headers' counts are distrusted: every header and every point run is
// proved to lie inside the mapping before a byte of it is read, so a
// truncated or corrupt file is refused instead of read past its end.
//
// The tile's own box is left at zero, as it always has been for this input;
// the union of the polygon boxes is kept in the source block and the vector
// header.

#include <limits.h>
#include <stdlib.h>

#include "VectorInputFrame.h"

namespace {

const long kFlagEnd = 12;          // id, n and the flag word
const long kOldHeader = 36;        // version 3 or less
const long kNewHeader = 44;        // later versions
const long kPointSize = 8;         // x then y, 4 bytes each
const int kNewestOldVersion = 3;
const int kMaxAcceptedLevel = 4;
const int kLakeLevelAlias = 6;     // read as level 1

int read_be32(unsigned char **stream)
{
    int v;
    N2H4(reinterpret_cast<unsigned char *>(&v), *stream, 1);
    *stream += 4;
    return v;
}

short read_be16(unsigned char **stream)
{
    short v;
    N2H2(reinterpret_cast<unsigned char *>(&v), *stream, 1);
    *stream += 2;
    return v;
}

// Size of the header that begins at `p`, from the version in its flag word.
long header_size(const unsigned char *p)
{
    unsigned char *q = const_cast<unsigned char *>(p) + 8;
    int flag = read_be32(&q);
    return ((flag >> 8) & 255) > kNewestOldVersion ? kNewHeader : kOldHeader;
}

}  // namespace

int gshhs_unstuff_hdr(GSHHSHdr *h, unsigned char **stream)
{
    *h = GSHHSHdr();
    h->id = read_be32(stream);
    h->n = read_be32(stream);
    int flag = read_be32(stream);
    h->west = read_be32(stream);
    h->east = read_be32(stream);
    h->south = read_be32(stream);
    h->north = read_be32(stream);
    h->area = read_be32(stream);
    h->version = (flag >> 8) & 255;
    h->level = flag & 255;
    if (h->version > kNewestOldVersion) {
        h->area_full = read_be32(stream);
        h->container = read_be32(stream);
        h->ancestor = read_be32(stream);
    } else {
        h->greenwich = read_be16(stream);
        h->source = read_be16(stream);
    }
    if (h->level == kLakeLevelAlias) h->level = 1;
    return 0;
}

int Orvex::scanGSHHS(unsigned char **stream, unsigned char **stream_data, int *level, int *npts,
                     long *nave, double *dave, int *ilatmin, int *ilatmax, int *ilonmin,
                     int *ilonmax)
{
    const double d2r = ORVEX_D2R;
    *level = -1;
    *npts = 0;

    // The polygon must lie inside this object's mapping: its header first,
    // then (once its count is known) all its points.
    const char *name = fname ? fname : "(unnamed)";
    if (!file_stream || *stream < file_stream || *stream > file_stream + file_size) {
        orvex_register_error(0, "Orvex::scanGSHHS: %s: position is not inside the mapped file.\n",
                             name);
        return -1;
    }
    OrvexMapCursor cursor(file_stream, file_size, static_cast<long>(*stream - file_stream));
    if (!cursor.fits(1, kFlagEnd) || !cursor.fits(1, header_size(*stream))) {
        orvex_register_error(0,
                             "Orvex::scanGSHHS: %s: polygon header at offset %ld reaches past the "
                             "end of the file (%ld bytes).\n",
                             name, cursor.pos, file_size);
        return -1;
    }

    const long start = cursor.pos;
    GSHHSHdr h;
    if (gshhs_unstuff_hdr(&h, stream) < 0) {
        orvex_register_error(0, "Orvex::scanGSHHS: gshhs_unstuff_hdr() error.\n");
        return -1;
    }
    *stream_data = *stream;
    cursor.pos = static_cast<long>(*stream - file_stream);
    if (h.n < 0) {
        orvex_register_error(0,
                             "Orvex::scanGSHHS: %s: polygon %d at offset %ld has a negative point "
                             "count (%d).\n",
                             name, h.id, start, h.n);
        return -1;
    }
    if (!cursor.fits(h.n, kPointSize)) {
        orvex_register_error(0,
                             "Orvex::scanGSHHS: %s: the %d points of polygon %d at offset %ld reach "
                             "past the end of the file (%ld bytes).\n",
                             name, h.n, h.id, cursor.pos, file_size);
        return -1;
    }
    if (h.level > kMaxAcceptedLevel) {
        *stream += static_cast<long>(h.n) * kPointSize;
        return 0;
    }

    *level = h.level;
    *npts = h.n;
    OrvexLonUnwrapper unwrap;
    double lat_prev = 0.0, lon_prev = 0.0;
    for (int i = 0; i < h.n; i++) {
        int x = read_be32(stream);
        int y = read_be32(stream);
        double lat = y * 1e-6, lon = x * 1e-6;
        // The distance uses the stored longitudes; the box the moved ones.
        long ux = unwrap.next(x);
        if (i > 0) {
            double delta, az;
            dist(lat_prev * d2r, lon_prev * d2r, lat * d2r, lon * d2r, &delta, &az);
            *dave += delta / d2r;
            (*nave)++;
        }
        if (ux < INT_MIN || ux > INT_MAX) {
            // Only a polygon circling the globe several times gets here.
            orvex_register_error(0,
                                 "Orvex::scanGSHHS: %s: polygon %d at offset %ld winds around the "
                                 "globe too often for 32-bit longitudes.\n",
                                 name, h.id, start);
            return -1;
        }
        int xi = static_cast<int>(ux);
        if (i == 0 || xi < *ilonmin) *ilonmin = xi;
        if (i == 0 || xi > *ilonmax) *ilonmax = xi;
        if (i == 0 || y < *ilatmin) *ilatmin = y;
        if (i == 0 || y > *ilatmax) *ilatmax = y;
        lat_prev = lat;
        lon_prev = lon;
    }
    return 0;
}

namespace {

// Adds one accepted polygon to the resolution: widens the union of the
// boxes, updates the vector header and appends its segment, whose points
// stay inside the mapping.
int add_polygon(OrvexResolution &res, OrvexVector &vector, unsigned char *data, int level,
                int npts, const OrvexSegmentBox &b)
{
    OrvexSource &src = res.source;
    orvex_widen_source_union(src, b);
    vector.lonmin = src.lon_start;
    vector.lonmax = src.lon_start + src.dlon;
    vector.latmin = src.lat_start;
    vector.latmax = src.lat_start + src.dlat;
    return orvex_append_vector_segment(vector.tiles[0], level, 1, b, npts,
                                       reinterpret_cast<OrvexXY *>(data));
}

}  // namespace

int orvex_scan_gshhs(Orvex *o)
{
    if (orvex_build_vector_frame(o, ORVEX_DATA_GSHHS, o->fname) < 0) return -1;
    OrvexResolution *res = o->frame.resolutions;
    OrvexVector *vector = static_cast<OrvexVector *>(res->data);

    unsigned char *stream = o->file_stream;
    unsigned char *end = o->file_stream + o->file_size;
    double dave = 0.0;
    long nave = 0;
    while (stream < end) {
        unsigned char *data = nullptr;
        int level, npts;
        OrvexSegmentBox b = {0, 0, 0, 0};
        if (o->scanGSHHS(&stream, &data, &level, &npts, &nave, &dave, &b.latmin, &b.latmax,
                         &b.lonmin, &b.lonmax) < 0) {
            orvex_register_error(0, "Orvex::scanInput: scanGSHHS() error.\n");
            return -1;
        }
        if (level < 0 || npts < 1) continue;
        if (add_polygon(*res, *vector, data, level, npts, b) < 0) return -1;
    }
    // Without a single pair of consecutive points there is no spacing to
    // average; 0 says so without storing a NaN.
    res->degrees_per_pixel = nave > 0 ? dave / nave : 0.0;
    return 0;
}

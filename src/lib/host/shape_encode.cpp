// A shape read by shapelib, written back in the published shapefile record
// form, which is what the "shapefile" table keeps of each shape: any
// shapefile reader can decode the BLOB, and the record survives unchanged
// from the file it came from.

#include <limits.h>

#include "db_internal.h"
#include "shape_bytes.h"
#include "shapefile_io.h"

namespace {

class RecordWriter {
public:
    explicit RecordWriter(std::vector<unsigned char> *out) : out_(out) {}
    void le32(int32_t v)
    {
        unsigned char b[4];
        shp_put_le32(b, v);
        out_->insert(out_->end(), b, b + 4);
    }
    void f64(double v)
    {
        unsigned char b[8];
        shp_put_le64f(b, v);
        out_->insert(out_->end(), b, b + 8);
    }
    void box(const SHPObject *s)
    {
        f64(s->dfXMin);
        f64(s->dfYMin);
        f64(s->dfXMax);
        f64(s->dfYMax);
    }
    void xy(const SHPObject *s)
    {
        for (int i = 0; i < s->nVertices; i++) {
            f64(s->padfX[i]);
            f64(s->padfY[i]);
        }
    }
    // A range and its values: the Z or the M section of a record.
    void measure(double lo, double hi, const double *values, int n)
    {
        f64(lo);
        f64(hi);
        for (int i = 0; i < n; i++) f64(values[i]);
    }

private:
    std::vector<unsigned char> *out_;
};

// M values are optional in the Z forms and in the M forms; they are
// written when shapelib found them in the file.
bool writes_m(const SHPObject *s)
{
    if (s->nSHPType == kShpPointM) return true;
    return (shp_has_z(s->nSHPType) || shp_has_m(s->nSHPType)) && s->bMeasureIsUsed;
}

void write_point(RecordWriter &w, const SHPObject *s)
{
    w.f64(s->padfX[0]);
    w.f64(s->padfY[0]);
    if (shp_has_z(s->nSHPType)) w.f64(s->padfZ[0]);
    if (writes_m(s)) w.f64(s->padfM[0]);
}

void write_multi(RecordWriter &w, const SHPObject *s, bool with_parts)
{
    w.box(s);
    if (with_parts) w.le32(s->nParts);
    w.le32(s->nVertices);
    if (with_parts)
        for (int p = 0; p < s->nParts; p++) w.le32(s->panPartStart[p]);
    w.xy(s);
    if (shp_has_z(s->nSHPType)) w.measure(s->dfZMin, s->dfZMax, s->padfZ, s->nVertices);
    if (writes_m(s)) w.measure(s->dfMMin, s->dfMMax, s->padfM, s->nVertices);
}

}  // namespace

int shp_encode_object(const SHPObject *shape, int number, std::vector<unsigned char> *out)
{
    int type = shape->nSHPType;
    if (type != kShpNull && !shp_is_point(type) && !shp_is_multipoint(type) && !shp_is_poly(type)) {
        db_log(0, "shp2db_import: shape type %d of record %d is not supported.\n", type, number);
        return -1;
    }
    // A point without its vertex is stored as what it is: no shape.
    if (shp_is_point(type) && shape->nVertices < 1) type = kShpNull;
    try {
        out->assign(kShpRecordHeader, 0);
        RecordWriter w(out);
        w.le32(type);
        if (shp_is_point(type))
            write_point(w, shape);
        else if (type != kShpNull)
            write_multi(w, shape, shp_is_poly(type));
    } catch (...) {
        db_log(0, "shp2db_import: out of memory encoding record %d.\n", number);
        return -1;
    }
    size_t content = out->size() - kShpRecordHeader;
    if (content / 2 > static_cast<size_t>(INT_MAX)) {
        db_log(0, "shp2db_import: record %d of %zu bytes is too large for a shape record.\n", number,
               content);
        return -1;
    }
    shp_put_be32(out->data(), number);
    shp_put_be32(out->data() + 4, static_cast<int32_t>(content / 2));
    return 0;
}

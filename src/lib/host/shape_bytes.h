/*
 * Byte access for shapefile records; not installed. A shape record starts
 * with a big-endian header (record number, content length in 16-bit words)
 * and continues little-endian; values are assembled byte by byte so the
 * code reads the same on any host and at any alignment.
 */
#ifndef ORVEX_HOST_SHAPE_BYTES_H
#define ORVEX_HOST_SHAPE_BYTES_H

#include <stdint.h>
#include <string.h>

/* Shape types of the published shapefile format. */
enum {
    kShpNull = 0,
    kShpPoint = 1,
    kShpPolyLine = 3,
    kShpPolygon = 5,
    kShpMultiPoint = 8,
    kShpPointZ = 11,
    kShpPolyLineZ = 13,
    kShpPolygonZ = 15,
    kShpMultiPointZ = 18,
    kShpPointM = 21,
    kShpPolyLineM = 23,
    kShpPolygonM = 25,
    kShpMultiPointM = 28,
    kShpMultiPatch = 31
};

/* Bytes of the record header in front of the content. */
enum { kShpRecordHeader = 8 };

inline int32_t shp_get_be32(const unsigned char *p)
{
    return static_cast<int32_t>((uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) |
                                (uint32_t(p[2]) << 8) | uint32_t(p[3]));
}

inline int32_t shp_get_le32(const unsigned char *p)
{
    return static_cast<int32_t>((uint32_t(p[3]) << 24) | (uint32_t(p[2]) << 16) |
                                (uint32_t(p[1]) << 8) | uint32_t(p[0]));
}

inline double shp_get_le64f(const unsigned char *p)
{
    uint64_t bits = 0;
    for (int i = 7; i >= 0; i--) bits = (bits << 8) | p[i];
    double d;
    memcpy(&d, &bits, sizeof d);
    return d;
}

inline void shp_put_be32(unsigned char *p, int32_t v)
{
    uint32_t u = static_cast<uint32_t>(v);
    p[0] = static_cast<unsigned char>(u >> 24);
    p[1] = static_cast<unsigned char>(u >> 16);
    p[2] = static_cast<unsigned char>(u >> 8);
    p[3] = static_cast<unsigned char>(u);
}

inline void shp_put_le32(unsigned char *p, int32_t v)
{
    uint32_t u = static_cast<uint32_t>(v);
    for (int i = 0; i < 4; i++) p[i] = static_cast<unsigned char>(u >> (8 * i));
}

inline void shp_put_le64f(unsigned char *p, double d)
{
    uint64_t bits;
    memcpy(&bits, &d, sizeof bits);
    for (int i = 0; i < 8; i++) p[i] = static_cast<unsigned char>(bits >> (8 * i));
}

/* What a shape type carries beyond x and y. */
inline bool shp_is_poly(int type)
{
    return type == kShpPolyLine || type == kShpPolygon || type == kShpPolyLineZ ||
           type == kShpPolygonZ || type == kShpPolyLineM || type == kShpPolygonM;
}
inline bool shp_is_multipoint(int type)
{
    return type == kShpMultiPoint || type == kShpMultiPointZ || type == kShpMultiPointM;
}
inline bool shp_is_point(int type)
{
    return type == kShpPoint || type == kShpPointZ || type == kShpPointM;
}
inline bool shp_has_z(int type)
{
    return type == kShpPointZ || type == kShpPolyLineZ || type == kShpPolygonZ ||
           type == kShpMultiPointZ;
}
inline bool shp_has_m(int type)
{
    return type == kShpPointM || type == kShpPolyLineM || type == kShpPolygonM ||
           type == kShpMultiPointM;
}

#endif

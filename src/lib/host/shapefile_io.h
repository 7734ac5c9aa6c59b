/*
 * What the importer makes of a shapefile read by shapelib: the published
 * record form of each shape and the JSON text of its attributes; not
 * installed.
 */
#ifndef ORVEX_HOST_SHAPEFILE_IO_H
#define ORVEX_HOST_SHAPEFILE_IO_H

#include <shapefil.h>

#include <string>
#include <vector>

/* Sets *out to the shape record, in the published shapefile form (8-byte
 * big-endian header with `number` and the content length in 16-bit words,
 * then the little-endian content), of a shape read by shapelib. Z forms
 * carry their M values only when shapelib found them. Returns 0, or -1
 * with a registered message (a MultiPatch, a record too large for the
 * format, memory exhausted). */
int shp_encode_object(const SHPObject *shape, int number, std::vector<unsigned char> *out);

/* Sets *out to a JSON object holding every field of .dbf record `record`
 * under its field name: numeric fields as numbers, logical fields as true,
 * false or null, empty (NULL) fields as null, everything else as strings
 * (text that is not UTF-8 is read as Latin-1). A null dbf gives "{}".
 * Returns false only when memory is exhausted. */
bool dbf_attributes_json(DBFHandle dbf, int record, std::string *out);

#endif

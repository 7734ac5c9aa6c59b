/*
 * The host toolkit's relational database of shapefile records. A database
 * is one SQLite file holding the tables "filename" (the shapefiles that
 * were imported) and "shapefile" (one row per shape record).
 */
#ifndef ORVEX_HOSTDB_H
#define ORVEX_HOSTDB_H

#ifdef __cplusplus
extern "C" {
#endif

/* A database pointer, passed by value. A field of -102 designates nothing;
 * -501 in `field` or `record` means "all". */
typedef struct Dbptr {
    long database;
    long table;
    long field;
    long record;
} Dbptr;

enum {
    dbINVALID = -102,
    dbALL = -501,
    dbRECORD_COUNT = -305,
    dbDATABASE_FILENAME = -357
};

/* The pointer that designates nothing. */
Dbptr dbinvalid(void);
/* Opens the database file at path. Mode "r" opens an existing database
 * read-only; "r+" opens it for reading and writing, creating the file and
 * its schema when missing. Returns 0 and *db designating the database, or
 * -1 with a registered message. */
int dbopen(const char *path, const char *mode, Dbptr *db);
/* Closes the database that db designates. Returns 0 or -1. */
int dbclose(Dbptr db);
/* A pointer to table `table` of db's database, with `field` and `record`
 * -501 (all); its `table` is -102 when the schema has no such table or db
 * designates no open database. Nothing is registered: -102 is an answer,
 * not a failure. The database, field and record names are kept for the
 * calling convention and are ignored. */
Dbptr dblookup(Dbptr db, const char *database, const char *table,
               const char *field, const char *record);
/* Code -357 stores a (char*) file name of the database, owned by the
 * toolkit and valid until dbclose, or null; code -305 stores a (long) row
 * count of the table db designates. Returns 0, or -1 with a registered
 * message for an unknown code or pointer. */
int dbquery(Dbptr db, int code, void *value);

/* Imports every shape record of the shapefile at shp_path (with its .shx
 * and .dbf beside it) into the database db designates, which must be open
 * for writing: one "filename" row for the file and one "shapefile" row per
 * record. Returns the number of records imported, or -1 with a registered
 * message (the database is then left as it was). */
long shp2db_import(Dbptr db, const char *shp_path);

/* One shape handed to shpdb_import_shapes: a PolyLine (3) or Polygon (5)
 * of `nparts` parts, part p holding the points from parts[p] (parts[0] is
 * 0) up to the next part's first or `npoints`; x longitudes and y
 * latitudes in degrees; the attributes as the text of a JSON object (null
 * stands for "{}"). */
typedef struct ShpdbShape {
    int shape_type;
    int nparts;
    const int *parts;
    int npoints;
    const double *x;
    const double *y;
    const char *attributes;
} ShpdbShape;

/* Fills *shape with the next shape (valid until the next call) and returns
 * 1; returns 0 after the last one, -1 on failure (registered). */
typedef int (*ShpdbNextShape)(void *arg, ShpdbShape *shape);

/* Imports shapes of any source, as `next` gives them, into the database db
 * designates, which must be open for writing: one "filename" row naming
 * `source` (its shape type that of every shape, or 0 when they mix) and
 * one "shapefile" row per shape, record numbers from 1, .shp offset 0.
 * Returns the number of shapes imported, or -1 with a registered message
 * (the database is then left as it was). */
long shpdb_import_shapes(Dbptr db, const char *source, ShpdbNextShape next, void *arg);

/* ---- Shapefile records ----------------------------------------------- */

typedef struct ESRISHPRECHDRStr {
    int number;
    int length;
} ESRISHPRECHDRStr;

typedef struct ESRISHPBOXStr {
    double xmin;
    double ymin;
    double xmax;
    double ymax;
} ESRISHPBOXStr;

typedef struct ESRISHPPOINTStr {
    double x;
    double y;
} ESRISHPPOINTStr;

/* The content of a PolyLine (3) or Polygon (5) record, and of their Z and
 * M forms and of a MultiPoint (parts then absent). */
typedef struct ESRISHPRECPOLYGStr {
    int shape_type;
    ESRISHPBOXStr bbox;
    int numparts;
    int numpoints;
    int *parts;
    ESRISHPPOINTStr *points;
} ESRISHPRECPOLYGStr;

typedef struct ESRISHPRECStr {
    unsigned long offset;
    int shape_type;
    ESRISHPRECHDRStr hdr;
    void *record;
} ESRISHPRECStr;

/* Fills a zeroed record from row db.record of the shape table db
 * designates. Returns 0, or -1 with a registered message. What it
 * allocates is released by esri_free_shp_record. */
int esri_get_db_shp_record(Dbptr db, ESRISHPRECStr *record);
/* Releases what esri_get_db_shp_record allocated and zeroes the record. */
void esri_free_shp_record(ESRISHPRECStr *record);
/* Decodes one shape record in the published shapefile form (the 8-byte
 * big-endian record header, then the little-endian content) of `size`
 * bytes into a zeroed record: hdr, shape_type and record are filled (an
 * ESRISHPPOINTStr for the point types, an ESRISHPRECPOLYGStr for the
 * PolyLine, Polygon and MultiPoint types, null for a Null shape; Z and M
 * values are checked for room and dropped). Returns 0, or -1 with a
 * registered message for a record that is truncated, carries negative
 * counts or counts larger than its bytes, part indexes outside its points
 * or out of order, or a shape type other than those above. Nothing is read
 * outside the `size` bytes. */
int esri_parse_shp_record(const unsigned char *bytes, long size, ESRISHPRECStr *record);

#ifdef __cplusplus
}
#endif

#endif

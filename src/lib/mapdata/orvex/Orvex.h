/*
 * liborvex: tiled, multi-resolution map files.
 *
 * An Orvex object is either an input (a map file, a raw elevation or colour
 * grid, a GSHHS shoreline file, a table of shapefile records) scanned into a
 * list of resolutions, or an output map file being built. Every operation
 * reports failure by registering a message in the host toolkit's error
 * register and returning -1 (or null); it never prints and never throws.
 *
 * The records below are stored on disk as their own images (little-endian,
 * no padding), without their trailing pointer fields; the record sizes are
 * therefore part of the file format and are checked at compile time.
 */
#ifndef ORVEX_ORVEX_H
#define ORVEX_ORVEX_H

#include <stddef.h>
#include <string.h>

#include "hostkit.h"

#if defined(ORVEX_BUILDING_LIBRARY)
#define ORVEX_API __attribute__((visibility("default")))
#else
#define ORVEX_API
#endif

class Orvex;

/* Data type codes. */
enum {
    ORVEX_DATA_ORX = 0,
    ORVEX_DATA_RGB = 1,
    ORVEX_DATA_DEM = 2,
    ORVEX_DATA_DEMB = 3,
    ORVEX_DATA_GSHHS = 4,
    ORVEX_DATA_ESRI = 5
};

/* Map type codes. */
enum { ORVEX_MAP_GRID = 0, ORVEX_MAP_VECTOR = 1 };

/* Elevation meaning "no data". */
enum { ORVEX_NODATA = -9999 };

/* The file header: magic "ORX0    ", the resolution count, and (in memory)
 * the resolution array, whose 8 bytes a new file holds as zeros. */
struct ORVEX_API OrvexFrame {
    char magic[8];
    long nresolutions;
    struct OrvexResolution *resolutions;
    OrvexFrame();
};

/* What a resolution was made from. */
struct ORVEX_API OrvexSource {
    char fname[512];
    long data_type;
    long map_type;
    double lon_start;
    double dlon;
    double lat_start;
    double dlat;
    long nlon;
    long nlat;
    OrvexSource();
};

struct ORVEX_API OrvexResolution {
    OrvexSource source;
    long data_type;
    long map_type;
    char name[128];
    char resolution[64];
    double degrees_per_pixel;
    double lon_start_tiles;
    double lat_start_tiles;
    double dlon_tiles;
    double dlat_tiles;
    long nlon_tiles;
    long nlat_tiles;
    long ntiles;
    void *data; /* OrvexGrid* (map type 0), OrvexVector* (1), else null */
    OrvexResolution();
};

/* One grid tile index entry. In a scanned input `buf` addresses the payload
 * inside the mapping; while an output is built the four fields hold the file
 * positions of the entry's own four fields. */
struct ORVEX_API OrvexGridTile {
    long zmin;
    long zmax;
    unsigned long nbuf;
    unsigned char *buf;
    OrvexGridTile();
};

struct ORVEX_API OrvexGrid {
    long decimation_factor;
    long compressed;
    long content; /* 1 elevation (2 bytes a sample), else colour (3 bytes) */
    long zmin;
    long zmax;
    double lon_start;
    double dlon;
    double lat_start;
    double dlat;
    long nlon;
    long nlat;
    long nlon_per_tile;
    long nlat_per_tile;
    OrvexGridTile *tiles;
    OrvexGrid();
};

/* A point in integer microdegrees. Big-endian in a GSHHS input (data type
 * 4), host order everywhere else. */
struct ORVEX_API OrvexXY {
    int lon_microdegrees;
    int lat_microdegrees;
    OrvexXY();
};

struct ORVEX_API OrvexVectorSegment {
    int level;
    int fill;
    int lonmin;
    int lonmax;
    int latmin;
    int latmax;
    long npts;
    OrvexXY *pts; /* read through orvex_get_point / orvex_get_points, never
                     as pts[i]: in a map file the array is not aligned */
    OrvexVectorSegment();
};

/* Reading a segment's points. A map file packs its payloads end to end with
 * no padding, so a point array read from a map starts wherever the payload
 * before it ended (after a compressed grid tile, at any byte): `pts` is then
 * not aligned for its type, and `seg->pts[i].lat_microdegrees` is a
 * misaligned access, undefined behaviour in C++ and a fault on processors
 * that demand alignment. These read the stored bytes at any alignment and
 * compile to plain loads where the processor allows them. Points are as
 * stored: host order, except in a GSHHS input's own segments (data type 4),
 * which hold them big-endian. The caller keeps i, and first + count, within
 * npts; the library has checked when opening a map that every segment's
 * points lie inside the file. */
inline void orvex_get_point(const OrvexVectorSegment *seg, long i, OrvexXY *out)
{
    memcpy(out, reinterpret_cast<const unsigned char *>(seg->pts) + 8 * i, 8);
}

/* count points from the first-th into out, an array of the caller's. */
inline void orvex_get_points(const OrvexVectorSegment *seg, long first, long count,
                             OrvexXY *out)
{
    if (count > 0)
        memcpy(out, reinterpret_cast<const unsigned char *>(seg->pts) + 8 * first,
               static_cast<size_t>(count) * 8);
}

struct ORVEX_API OrvexVectorTile {
    double lonmin;
    double lonmax;
    double latmin;
    double latmax;
    long fill;
    long nsegments;
    OrvexVectorSegment *segments;
    OrvexVectorTile();
};

struct ORVEX_API OrvexVector {
    double lonmin;
    double lonmax;
    double latmin;
    double latmax;
    OrvexVectorTile *tiles;
    OrvexVector();
};

/* One entry of an output's input registry: which input, resolution and
 * tile feed an output resolution. */
struct ORVEX_API OrvexInput {
    Orvex *input;
    int resolution;
    int tile;
    OrvexInput();
};

/* One entry of the process-wide cache of inflated grid tiles. */
struct ORVEX_API OrvexCache {
    Orvex *object; /* compared by address only */
    int resolution;
    int tile;
    size_t size;
    unsigned char *stream;
    OrvexCache();
};

/* How writeData writes a whole output: the colour adjustment of its grid
 * tiles, how much of the shared cache the inflated source tiles may keep,
 * and a progress hook. */
struct ORVEX_API OrvexWriteOptions {
    double gamma;       /* lightness gamma of colour tiles (1: unchanged) */
    double lightmin;    /* lightness floor of colour tiles (0: unchanged) */
    long cache_budget;  /* bytes of inflated tiles the cache keeps whenever the
                           build turns to another source tile (cleanCache with
                           clean_all set); below 0: never trimmed */
    void (*progress)(void *arg, long done, long total); /* after every tile,
                           on the calling thread; may be null */
    void *progress_arg;
    OrvexWriteOptions(); /* gamma 1, lightmin 0, budget -1, no hook */
};

/* Samples of a grid input that the caller supplies a band of rows at a
 * time, for sources too large to be held whole (a raster decoded by another
 * library into a file that holds only the rows in use). While tiles are
 * written from the input's one tile, supply(arg, row0, row1) is called
 * before any sample of rows [row0, row1) is read, in increasing row order
 * within a pass over the tile, and release(arg, row0, row1) once those rows
 * will not be read again unless supplied anew. Calls come from whichever
 * thread of the build needs them, one at a time. supply returns 0, or -1
 * with its reason registered (the tile that needed the rows then fails). */
struct ORVEX_API OrvexRowFeed {
    int (*supply)(void *arg, long row0, long row1);
    void (*release)(void *arg, long row0, long row1);
    void *arg;
};

/* A decoded GSHHS polygon header, host order. */
struct ORVEX_API GSHHSHdr {
    int id;
    int n;
    int level;
    int west;
    int east;
    int south;
    int north;
    int area;
    short greenwich;
    short source;
    int version;
    int area_full;
    int container;
    int ancestor;
    GSHHSHdr();
};

/* On-disk images: the in-memory records without their trailing pointer. */
static_assert(sizeof(OrvexFrame) == 24, "file header image is 24 bytes");
static_assert(offsetof(OrvexResolution, data) == 848,
              "resolution record image is 848 bytes");
static_assert(offsetof(OrvexGrid, tiles) == 104, "grid header image is 104 bytes");
static_assert(sizeof(OrvexGridTile) == 32, "tile index entry is 32 bytes");
static_assert(offsetof(OrvexVector, tiles) == 32, "vector header image is 32 bytes");
static_assert(offsetof(OrvexVectorTile, segments) == 48,
              "vector tile record image is 48 bytes");
static_assert(sizeof(OrvexVectorSegment) == 40, "segment record is 40 bytes");
static_assert(sizeof(OrvexXY) == 8, "a point is 8 bytes");

class ORVEX_API Orvex {
public:
    OrvexFrame frame;
    Arr *src_arr;
    int append;
    unsigned char *file_stream;
    long file_size;
    char *fname;
    int fd;
    long nresolutions_offset;
    long tiles_offset;
    char *dbname;
    Dbptr db;

    Orvex();
    ~Orvex();
    Orvex(const Orvex &) = delete;
    Orvex &operator=(const Orvex &) = delete;

    /* Inputs. */
    int setInput(const char *fname, int append, const char *type_string);
    int setInput(Dbptr db);
    /* Makes a grid input of one tile (a raw grid) a fed one: its samples are
     * read only between the feed's supply and release calls. A null feed
     * makes it an ordinary input again. Returns 0, or -1 with a registered
     * message when the object is not such an input. */
    int setRowFeed(const OrvexRowFeed *feed);
    const OrvexRowFeed *rowFeed() const { return row_feed.supply ? &row_feed : nullptr; }

    /* Tile access. */
    int getTileGrid(int resolution, int tile, unsigned char **out);
    int cleanCache(long maxsize, int clean_all);
    /* Like getTileGrid, and holds the tile: it stays cached and its pointer
     * valid until the matching releaseTileGrid (holds are counted; any
     * thread may hold the same tile, and no trimming or eviction frees a
     * held tile). Messages begin "Orvex::holdTileGrid:". An uncompressed
     * tile is handed out in place and needs no hold: for it both calls
     * only hand out the mapped pointer. */
    int holdTileGrid(int resolution, int tile, unsigned char **out);
    /* Gives back one hold of holdTileGrid; a tile not held is left alone. */
    void releaseTileGrid(int resolution, int tile);
    /* Like cleanCache, but by count: frees cached tiles, oldest first, until
     * at most maxentries entries are in use (the cache holds at most 1000);
     * only this object's tiles unless clean_all. Always returns 0. */
    int cleanCacheEntries(long maxentries, int clean_all);
    int findTile(OrvexResolution *resolution, double lat, double lon, int *tile,
                 long *tilerow, long *tilecol);
    int findTile(int resolution, double lat, double lon, int *tile, long *tilerow,
                 long *tilecol);
    /* A sample's position is the corner of its cell: a position between two
     * samples belongs to the one before it in the direction of the step
     * (the quotient is truncated toward zero), so a position a hair short
     * of a sample's own answers the sample before. Display programs that
     * want the sample nearest to a position call findNearestPixel. */
    int findPixelWithinTile(OrvexResolution *resolution, OrvexGrid *grid,
                            long ilat_tile, long ilon_tile, double lat, double lon,
                            long *row, long *col, long *offset);
    /* The sample of a grid resolution nearest to a position: its tile, its
     * row and column in the tile and its byte offset in the tile's samples
     * (the buffer getTileGrid gives). Exact at every sample's own position
     * whatever the step. A position up to half a step before the first
     * sample, or anywhere in the last sample's cell up to and including
     * its far edge (the grid's own area ends a whole step after the last
     * sample), belongs to that sample. On a grid
     * reaching all the way round,
     * longitudes are turned by whole turns, so 180 and -180 name the same
     * sample. Outside the grid, on a vector resolution or for a NaN every
     * output is -1. Always returns 0. */
    int findNearestPixel(OrvexResolution *resolution, double lat, double lon, int *tile,
                         long *row, long *col, long *offset);

    /* Building. */
    int setOutput(const char *fname);
    int setResolutionHdrGrid(Orvex *input, int input_resolution, int input_tile,
                             long dec, int compressed, int nlat_tiles,
                             int nlon_tiles, const char *name,
                             const char *resolution_string);
    /* As setResolutionHdrGrid, for source tiles whose size is not a whole
     * number of windows or tiles: declares the largest grid of whole
     * decimation steps, a whole number of samples per tile, counted from
     * the input tile's first row and column. The source's last rows and
     * columns beyond it are left out (a grid that repeats its first column
     * at the east edge, or has a row at both poles, loses that repeat
     * first); the declared size and position match the samples exactly.
     * Fails only when not one sample per tile remains. */
    int setResolutionHdrGridFit(Orvex *input, int input_resolution, int input_tile,
                                long dec, int compressed, int nlat_tiles,
                                int nlon_tiles, const char *name,
                                const char *resolution_string);
    int setResolutionHdrVector(Orvex *input, int input_resolution, int input_tile,
                               int nlat_tiles, int nlon_tiles,
                               int output_resolution, int fill, int level,
                               const char *name, const char *resolution_string);
    int writeTileDataGrid(int output_resolution, int output_tile, double gamma,
                          double lightmin);
    int writeDataGrid(double gamma, double lightmin);
    int writeTileDataVector(int output_resolution, int output_tile);
    int writeDataVector();
    /* Every tile of every resolution, grid and vector alike, in resolution
     * and tile order: the file writeTileDataGrid and writeTileDataVector
     * called tile by tile would make, byte for byte, with the grid tiles
     * made and deflated on worker threads as writeDataGrid makes them. At
     * the first failing tile it registers "Orvex::writeData:
     * writeTileDataGrid() error." (or writeTileDataVector()) and returns
     * -1; else 0. */
    int writeData(const OrvexWriteOptions &options);

    /* Scanning inputs. */
    static char *checkInputFile(const char *fname, int *type, Pf **pf,
                                const char *type_string);
    static int checkInputDb(Dbptr db, char **name);
    int scanInput(int type, Pf *pf);
    int scanGSHHS(unsigned char **stream, unsigned char **stream_data, int *level,
                  int *npts, long *nave, double *dave, int *ilatmin, int *ilatmax,
                  int *ilonmin, int *ilonmax);
    int scanESRIREC(ESRISHPRECStr *record, int part, int *fill, int *npts,
                    OrvexXY **points, long *nave, double *dave, int *ilatmin,
                    int *ilatmax, int *ilonmin, int *ilonmax);
    int setInputArr(Orvex *input, int input_resolution, int input_tile,
                    int output_resolution);

private:
    friend struct OrvexPrivate; /* the library's own access to the fields below */

    /* Releases everything the object owns except the mapping and the
     * descriptor, leaving an empty frame. */
    void releaseFrame();
    /* Takes ownership of a point array the library allocated (database
     * shapes, purged copies): it is released with the object. Returns 0, or
     * -1 with a registered message (the array is then not adopted). */
    int adoptPoints(OrvexXY *pts);

    OrvexXY **owned_pts;     /* point arrays owned by the object */
    long nowned_pts;
    long owned_pts_capacity;
    long end_of_headers;     /* output: file end after the last declaration */
    int payload_written;     /* output: tile data has been written */
    OrvexRowFeed row_feed = {nullptr, nullptr, nullptr}; /* input: who supplies the rows */
};

/* Error reporting: each hands flag, format and its arguments to the host
 * toolkit's error log (register, complaint on standard error, fatal report). */
ORVEX_API void orvex_register_error(int flag, const char *format, ...)
    __attribute__((format(printf, 2, 3)));
ORVEX_API void orvex_complain(int flag, const char *format, ...)
    __attribute__((format(printf, 2, 3)));
ORVEX_API void orvex_die(int flag, const char *format, ...)
    __attribute__((format(printf, 2, 3), noreturn));
ORVEX_API void orvex_clear_register(int flag);

/* Process-wide byte budget for inflated tiles (0, the default: none; the
 * cache then behaves as it always has: 1000 entries, trimmed only by
 * cleanCache and cleanCacheEntries). With a budget, a request that misses
 * first evicts least recently used tiles that no caller holds until the new
 * tile fits (a held tile is never evicted; when held tiles alone exceed the
 * budget the request still succeeds and the cache shrinks back as tiles are
 * released), and the table of entries grows beyond 1000 as needed. Setting
 * a budget evicts at once what exceeds it. Returns 0, or -1 (message
 * registered) for a budget beyond 2^62 bytes. The budget counts the
 * inflated bytes and a little bookkeeping for each entry (about 130 bytes),
 * so that many small tiles stay within it too.
 *
 * Under a budget a tile got with getTileGrid and not held may be evicted by
 * any later miss of any thread: its pointer is good until this thread's
 * next request, and only while no other thread requests tiles. Code that
 * keeps a tile longer, or shares the process with other readers, holds it.
 * cleanCache and cleanCacheEntries keep their meaning (oldest added first)
 * and pass over held tiles; an object's destructor drops its own tiles, and
 * without a budget every tile that nobody holds. */
ORVEX_API int orvex_cache_set_budget(size_t bytes);
ORVEX_API size_t orvex_cache_budget(void);
/* Views of the cache for tests, tools and benchmarks: inflations made since
 * the process began, and the most inflated bytes cached at once since it
 * began or since orvex_cache_reset_peak (which starts it at the present
 * total). */
ORVEX_API unsigned long orvex_cache_inflations(void);
ORVEX_API size_t orvex_cache_peak_bytes(void);
ORVEX_API void orvex_cache_reset_peak(void);

/* Newly allocated names of data type and map type codes ("unknown" for any
 * other code); the caller frees them. Null when memory is exhausted. */
ORVEX_API char *orvex_datatype2str(int type);
ORVEX_API char *orvex_maptype2str(int type);

/* Decodes the GSHHS polygon header at *stream into *gshhshdr and advances
 * *stream past it. Always returns 0; the caller proves that the header lies
 * within its data. */
ORVEX_API int gshhs_unstuff_hdr(GSHHSHdr *gshhshdr, unsigned char **stream);

#endif

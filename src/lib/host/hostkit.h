/*
 * The host toolkit: the small services the map library leans on (error
 * register, data-file lookup, parameter files, string-keyed arrays and
 * lists, byte order, great-circle distance, file mappings, the shapefile
 * database). It is a library of its own; the map library reaches it only
 * through the calls declared here.
 */
#ifndef ORVEX_HOSTKIT_H
#define ORVEX_HOSTKIT_H

#include <stdarg.h>
#include <stdio.h>

#include "hostdb.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Error register, one per thread ---------------------------------- */

/* Appends a formatted message to this thread's register. With flag 1 the
 * message loses its final newline and gains ": ", the system error text of
 * the errno current at the call, and a newline. */
void elog_log(int flag, const char *format, va_list args);
/* Registers the message like elog_log, then prints the whole register on
 * standard error and empties it. */
void elog_complain(int flag, const char *format, va_list args);
/* As elog_complain, then ends the process with status 1. */
void elog_die(int flag, const char *format, va_list args)
    __attribute__((noreturn));
/* Empties this thread's register. The flag is kept for the calling
 * convention and has no effect. */
void elog_clear_register(int flag);
/* Number of messages in this thread's register. */
int elog_count(void);
/* The i-th message, oldest first; null outside 0 .. elog_count() - 1. The
 * text stays valid until the register changes. */
const char *elog_message(int i);
/* Writes every message of the register, oldest first, to the stream. */
void elog_print(FILE *stream);

/* ---- Data files ------------------------------------------------------ */

/* The first existing file DIR/relative, for each DIR of the colon-separated
 * environment variable ORVEX_DATA, then of the installed data folder. The
 * first argument is kept for the calling convention and must be null.
 * Returns a path the caller frees, or null when no such file exists. */
char *datafile(const char *unused, const char *relative);
/* The installed data folder, as compiled in. */
const char *datafile_install_dir(void);

/* ---- Parameter files ------------------------------------------------- */

typedef struct Pf Pf;

enum { PF_INT = 1, PF_DOUBLE = 3, PF_YESNO = 11 };

/* Reads the parameter file that sits beside a data file: for "x.dem" the
 * file "x.dem.pf". One "key value" per line, the value being the rest of
 * the line trimmed; '#' starts a comment; a repeated key keeps its last
 * value. A set already in *pf is released first. Returns 0, or -1 when the
 * file cannot be read, with no message: the callers register theirs, which
 * name the data file the parameters are for (and a dem file's are read a
 * second time before that counts as a failure). */
int pfread(const char *data_path, Pf **pf);
/* Stores the value of key, read as kind PF_DOUBLE (double*), PF_INT (int*)
 * or PF_YESNO (int*, from yes/no, y/n, true/false, on/off, 1/0 in any
 * case) at value and returns 0. A missing key returns -1 when required and
 * 0, leaving *value untouched, when not; a value that does not parse
 * completely (or a double that is not finite) always returns -2 and
 * registers "parameter file PATH: key KEY: cannot use value 'TEXT' (WHY)". */
int parse_param(Pf *pf, const char *key, int kind, int required, void *value);
/* For a value that parsed but that the caller cannot use: registers the
 * same message with the caller's reason and returns -1. */
int pf_refuse(Pf *pf, const char *key, const char *why);
/* The raw text of a key, or null. */
const char *pfget_string(Pf *pf, const char *key);
void pffree(Pf *pf);

/* ---- Lists ----------------------------------------------------------- */

/* A growable list of pointers; the entry count is part of the record. */
typedef struct Tbl {
    long nentries;
    long capacity;
    void **entries;
} Tbl;

/* An empty list with room for `size` entries (at least one). Null when
 * memory is exhausted. */
Tbl *newtbl(long size);
/* Stores value at index; index -1 (or nentries) appends. Returns the index
 * used, or -1 when the index is out of range or memory is exhausted. */
long settbl(Tbl *tbl, long index, void *value);
/* The entry at index, or null outside 0 .. nentries - 1. */
void *gettbl(Tbl *tbl, long index);
/* Number of entries. */
long maxtbl(Tbl *tbl);
/* Releases the list, handing each entry to free_value when it is given. */
void freetbl(Tbl *tbl, void (*free_value)(void *));

/* ---- String-keyed arrays --------------------------------------------- */

typedef struct Arr Arr;

/* An empty array. The comparison argument is kept for the calling
 * convention and must be null: keys compare as strings. */
Arr *newarr(int (*compare)(const char *, const char *));
/* The value stored under key, or null. */
void *getarr(Arr *arr, const char *key);
/* Stores value under key (the key is copied); returns the value it
 * replaced, or null. */
void *setarr(Arr *arr, const char *key, void *value);
/* Number of keys. */
long cntarr(Arr *arr);
/* A new list of the keys in sorted order; the caller releases it with
 * freetbl(keys, 0). The key texts belong to the array. */
Tbl *keysarr(Arr *arr);
/* Releases the array, handing each value to free_value when given. */
void freearr(Arr *arr, void (*free_value)(void *));

/* ---- Byte order and distance ----------------------------------------- */

/* Converts n big-endian (network order) 4- or 2-byte integers at src into
 * host order at dst. Source and destination may be unaligned. */
void N2H4(unsigned char *dst, const unsigned char *src, long n);
void N2H2(unsigned char *dst, const unsigned char *src, long n);
/* Host order to big-endian, the inverse of the above. */
void H2N4(unsigned char *dst, const unsigned char *src, long n);
void H2N2(unsigned char *dst, const unsigned char *src, long n);

/* Great-circle angular distance *delta and initial azimuth *az, radians,
 * between two points given in radians, on the sphere. Accurate for tiny
 * and for near-antipodal separations alike. */
void dist(double lat1, double lon1, double lat2, double lon2, double *delta,
          double *az);

/* ---- File mappings --------------------------------------------------- */

/* Maps a whole file read-only and remembers the mapping under its path.
 * Returns 0 and the address and size, or -1 (message registered). */
int mapfile(const char *path, void **addr, long *size);
/* Releases the mapping made by mapfile for path. The second argument is
 * kept for the calling convention and must be null. Returns 0, or -1 when
 * no mapping is known under that path. */
int unmapfile(const char *path, void *unused);

#ifdef __cplusplus
}
#endif

#endif

// orvex shp2db: shapefiles into a shapefile database, the input the map
// library reads polylines and polygons from.

#include "shp2db_command.h"

#include <stdio.h>
#include <string.h>

#include "hostkit.h"

namespace {

void usage(FILE *stream)
{
    fputs("usage: orvex shp2db [--help] IN.shp... OUT.db\n"
          "\n"
          "Imports each shapefile (with its .shx and .dbf beside it) into the database\n"
          "OUT.db, creating it when missing: one row of table \"filename\" per file and\n"
          "one row of table \"shapefile\" per shape record, with the .dbf attributes as\n"
          "JSON. Each file is imported whole or not at all.\n",
          stream);
}

void fail(const char *format, const char *arg)
{
    fprintf(stderr, "orvex shp2db: ");
    fprintf(stderr, format, arg);
    elog_print(stderr);
    elog_clear_register(0);
}

// Imports every input into the open database; stops at the first failure.
int import_all(Dbptr db, int ninputs, char **inputs)
{
    for (int i = 0; i < ninputs; i++) {
        long n = shp2db_import(db, inputs[i]);
        if (n < 0) {
            fail("cannot import %s:\n", inputs[i]);
            if (i > 0) fprintf(stderr, "orvex shp2db: the %d file(s) before it were imported.\n", i);
            return 1;
        }
        printf("%s: %ld records\n", inputs[i], n);
    }
    return 0;
}

}  // namespace

int orvex_shp2db_command(int argc, char **argv)
{
    const int first = 1;
    for (int i = first; i < argc; i++) {
        if (strcmp(argv[i], "--help") == 0) {
            usage(stdout);
            return 0;
        }
    }
    for (int i = first; i < argc; i++) {
        if (argv[i][0] == '-') {
            fprintf(stderr, "orvex shp2db: unknown option %s\n", argv[i]);
            usage(stderr);
            return 1;
        }
    }
    if (argc - first < 2) {
        usage(stderr);
        return 1;
    }
    const char *out = argv[argc - 1];
    Dbptr db;
    if (dbopen(out, "r+", &db) < 0) {
        fail("cannot open %s:\n", out);
        return 1;
    }
    int status = import_all(db, argc - first - 1, argv + first);
    dbclose(db);
    return status;
}

// orvex shp2db: shapefiles into a shapefile database, the input the map
// library reads polylines and polygons from.

#include "shp2db_command.h"

#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "atomic_output.h"
#include "hostkit.h"

namespace {

void usage(FILE *stream)
{
    fputs("usage: orvex shp2db [--help] IN.shp... OUT.db\n"
          "\n"
          "Imports each shapefile (with its .shx and .dbf beside it) into the database\n"
          "OUT.db, creating it when missing: one row of table \"filename\" per file and\n"
          "one row of table \"shapefile\" per shape record, with the .dbf attributes as\n"
          "JSON. Each file is imported whole or not at all; a new OUT.db appears only\n"
          "when every file is in.\n",
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
// Into a new database (`fresh`) a failure keeps nothing at all.
int import_all(Dbptr db, int ninputs, char **inputs, const char *out, bool fresh)
{
    for (int i = 0; i < ninputs; i++) {
        long n = shp2db_import(db, inputs[i]);
        if (n < 0) {
            fail("cannot import %s:\n", inputs[i]);
            if (fresh) fprintf(stderr, "orvex shp2db: %s was not created.\n", out);
            else if (i > 0) fprintf(stderr, "orvex shp2db: the %d file(s) before it were imported.\n", i);
            return 1;
        }
        orvexcli::test_checkpoint("imported" + std::to_string(i + 1));
        printf("%s: %ld records\n", inputs[i], n);
    }
    return 0;
}

int import_into(const char *path, const char *out, int ninputs, char **inputs, bool fresh)
{
    Dbptr db;
    if (dbopen(path, "r+", &db) < 0) {
        fail("cannot open %s:\n", out);
        return 1;
    }
    int status = import_all(db, ninputs, inputs, out, fresh);
    dbclose(db);
    return status;
}

// A new database is built under a temporary name and appears only once
// every file is in; SQLite's rollback journal sits beside it meanwhile.
int import_into_new(const char *out, int ninputs, char **inputs)
{
    orvexcli::AtomicOutput file(out, "-journal");
    if (!file.ready()) {
        fprintf(stderr, "orvex shp2db: cannot protect %s (name too long)\n", out);
        return 1;
    }
    if (int status = import_into(file.temp_path().c_str(), out, ninputs, inputs, true)) return status;
    std::string why;
    if (file.commit(false, &why) != 0) {
        fprintf(stderr, "orvex shp2db: %s\n", why.c_str());
        return 1;
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
            return 2;
        }
    }
    if (argc - first < 2) {
        usage(stderr);
        return 2;
    }
    const char *out = argv[argc - 1];
    int ninputs = argc - first - 1;
    if (access(out, F_OK) == 0) return import_into(out, out, ninputs, argv + first, false);
    return import_into_new(out, ninputs, argv + first);
}

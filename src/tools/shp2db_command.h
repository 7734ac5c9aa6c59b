/*
 * The "shp2db" subcommand of the orvex command: imports shapefiles into a
 * shapefile database.
 */
#ifndef ORVEX_TOOLS_SHP2DB_COMMAND_H
#define ORVEX_TOOLS_SHP2DB_COMMAND_H

/* Runs "shp2db [--help] IN.shp... OUT.db" (argv[0] is "shp2db"). Creates
 * OUT.db with its schema when missing and imports each shapefile in turn,
 * each in one transaction. Prints one line per imported file on standard
 * output; on failure prints the error register on standard error. A new
 * OUT.db is built under a temporary name and left only when every file
 * was imported. Returns the exit status: 0 on success, 1 on failure, 2 on
 * misuse. */
int orvex_shp2db_command(int argc, char **argv);

#endif

// What every subcommand shares: opening a map, reporting failures, help
// texts and the small questions asked of the map records.
#ifndef ORVEX_TOOL_COMMON_H
#define ORVEX_TOOL_COMMON_H

#include <string>

#include "Orvex.h"
#include "map_records.h"

namespace orvexcli {

/* Prints "orvex CMD: MESSAGE" and then the library's register on standard
 * error, empties the register and returns 1 (the exit status). */
int fail(const char *command, const std::string &message);
/* A usage mistake: the message and a pointer to --help; returns 2. */
int usage_error(const char *command, const std::string &message);
/* True when argv holds -h or --help. */
bool wants_help(int argc, char **argv);

/* The name to hand to the library for a file named on the command line: a
 * relative name of an existing file becomes "./NAME", so that the file in
 * the current folder is used; any other name is left for the library to
 * look up as maps/orx/NAME in the data folders. */
std::string local_name(const std::string &name);

/* Fails as above after a map named `name` could not be opened: when it
 * was read as a map file and is recognisably something else, with "'NAME'
 * is a PNG image, not a map file" (and no register), else with `what` and
 * the register. */
int fail_to_open(const char *command, const char *name, const std::string &what, bool read_as_map = true);

/* Opens a map for reading: the default map found under "maps/orx" when
 * `name` is null. Returns 0, or fails as above. */
int open_map(const char *command, const char *name, Orvex *map);

/* A fixed-size text field of a record read from a file: up to its first
 * NUL or its size, control bytes shown as '?'. */
std::string field_text(const char *field, size_t size);

/* "1 tile", "3 tiles". */
std::string count_of(long n, const char *noun);

/* The name of a data type or map type code (owned copy released here). */
std::string datatype_name(long type);
std::string maptype_name(long type);

}  // namespace orvexcli

#endif

// What kind of file a user gave where a map was expected, told from its
// first bytes, so that the refusal can say "a PNG image" rather than what
// the map reader found wrong with it.
#ifndef ORVEX_TOOL_FILE_KIND_H
#define ORVEX_TOOL_FILE_KIND_H

#include <stddef.h>

#include <string>

namespace orvextool {

/* The first bytes looked at. */
const size_t kFileKindHead = 64;

/* "a PNG image", "an empty file", ... for a file that is recognisably not
 * a map, from its first `n` bytes (at most kFileKindHead), its size and
 * whether a parameter file NAME.pf sits beside it. Empty when the file
 * begins like a map or is of no kind recognised here. */
std::string describe_non_map(const unsigned char *head, size_t n, long size, bool has_pf);

/* True when the map library opens the file itself: a map, raw grid, GSHHS
 * file or shapefile database by the suffix of `name`, a file that begins
 * like a map or a database, or a raw grid with its parameter file beside
 * it. Other files are left to GDAL. */
bool opened_by_library(const std::string &name, const unsigned char *head, size_t n, bool has_pf);

}  // namespace orvextool

#endif

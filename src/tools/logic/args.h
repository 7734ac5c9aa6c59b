// Strict parsing of command-line values: a value is taken only when the
// whole text is a number in range, so "12abc" or "" are refused.
#ifndef ORVEX_TOOL_ARGS_H
#define ORVEX_TOOL_ARGS_H

#include <string>
#include <vector>

namespace orvextool {

bool parse_long(const char *text, long min, long max, long *value);
bool parse_double(const char *text, double *value); /* finite values only */
/* "RxC": tile rows (latitude) and columns (longitude), each 1 or more. */
bool parse_tiles(const char *text, int *rows, int *cols);
/* Splits a recipe line into words: blanks separate, single or double quotes
 * group, '#' outside quotes starts a comment. False on an open quote. */
bool split_words(const std::string &line, std::vector<std::string> *words);

}  // namespace orvextool

#endif

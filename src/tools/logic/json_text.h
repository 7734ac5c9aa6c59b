// JSON text of feature attributes, as the shapefile database keeps them.
#ifndef ORVEX_TOOL_JSON_TEXT_H
#define ORVEX_TOOL_JSON_TEXT_H

#include <string>

namespace orvextool {

/* Appends `text` as a JSON string: quotes, backslashes and control bytes
 * escaped; other bytes (UTF-8) as they are. */
void append_json_string(std::string *out, const std::string &text);
/* Appends a number, or null when it is not finite (JSON has no NaN). */
void append_json_number(std::string *out, double value);

}  // namespace orvextool

#endif

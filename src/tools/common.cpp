#include "common.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "file_kind.h"
#include "gdal_io.h"

namespace orvexcli {

int fail(const char *command, const std::string &message)
{
    fprintf(stderr, "orvex %s: %s\n", command, message.c_str());
    elog_print(stderr);
    elog_clear_register(0);
    return 1;
}

int usage_error(const char *command, const std::string &message)
{
    fprintf(stderr, "orvex %s: %s\nTry 'orvex %s --help'.\n", command, message.c_str(), command);
    return 2;
}

bool wants_help(int argc, char **argv)
{
    for (int i = 1; i < argc; i++)
        if (strcmp(argv[i], "-h") == 0 || strcmp(argv[i], "--help") == 0) return true;
    return false;
}

namespace {

bool has_suffix(const char *name, const char *suffix)
{
    size_t n = strlen(name), k = strlen(suffix);
    return n >= k && strcmp(name + n - k, suffix) == 0;
}

/* Raw grids and shoreline files open by their suffix; any other name is
 * taken for a map file, whatever it is called. */
const char *type_for(const char *name)
{
    if (!name) return nullptr;
    for (const char *suffix : {".orx", ".rgb", ".dem", ".gshhs"})
        if (has_suffix(name, suffix)) return nullptr;
    return "orx";
}

}  // namespace

std::string local_name(const std::string &name)
{
    if (name.empty() || name[0] == '/' || name[0] == '.') return name;
    return access(name.c_str(), F_OK) == 0 ? "./" + name : name;
}

namespace {

/* What a file on disk is when it is recognisably not a map; empty for a
 * map, an unknown kind, or a name left to the data folders. */
std::string non_map_kind(const std::string &path)
{
    if (path.empty() || (path[0] != '/' && path[0] != '.')) return "";
    FILE *f = fopen(path.c_str(), "rb");
    if (!f) return "";
    unsigned char head[orvextool::kFileKindHead];
    size_t n = fread(head, 1, sizeof head, f);
    struct stat st;
    long size = fstat(fileno(f), &st) == 0 && S_ISREG(st.st_mode) ? static_cast<long>(st.st_size) : -1;
    fclose(f);
    if (size < 0) return "";
    bool has_pf = access((path + ".pf").c_str(), F_OK) == 0;
    return orvextool::describe_non_map(head, n, size, has_pf);
}

}  // namespace

int fail_to_open(const char *command, const char *name, const std::string &what, bool read_as_map)
{
    std::string kind = name && read_as_map ? non_map_kind(local_name(name)) : std::string();
    if (kind.empty()) return fail(command, what);
    /* The reader's complaint (a wrong magic number) says less than this. */
    elog_clear_register(0);
    std::string text = std::string("'") + name + "' is " + kind + ", not a map file";
    if (!gdal_built_in()) text += "; " + std::string(kNoGdal);
    return fail(command, text);
}

int open_map(const char *command, const char *name, Orvex *map)
{
    std::string path = name ? local_name(name) : std::string();
    if (map->setInput(name ? path.c_str() : nullptr, 0, type_for(name)) == 0) return 0;
    std::string what = name ? std::string("cannot open map '") + name + "'"
                            : std::string("cannot open the default map (maps/orx/default.orx in "
                                          "ORVEX_DATA or ") + datafile_install_dir() + ")";
    /* A raw grid or GSHHS file opened by its suffix failed as what it is. */
    bool read_as_map = !name || type_for(name) || has_suffix(name, ".orx");
    return fail_to_open(command, name, what, read_as_map);
}

std::string field_text(const char *field, size_t size)
{
    std::string out;
    for (size_t i = 0; i < size && field[i] != '\0'; i++) {
        unsigned char c = static_cast<unsigned char>(field[i]);
        out += c < 32 || c == 127 ? '?' : static_cast<char>(c);
    }
    return out;
}

std::string count_of(long n, const char *noun)
{
    return std::to_string(n) + " " + noun + (n == 1 ? "" : "s");
}

namespace {

std::string owned(char *text)
{
    std::string s = text ? text : "unknown";
    free(text);
    return s;
}

}  // namespace

std::string datatype_name(long type)
{
    return owned(orvex_datatype2str(static_cast<int>(type)));
}

std::string maptype_name(long type)
{
    return owned(orvex_maptype2str(static_cast<int>(type)));
}

}  // namespace orvexcli

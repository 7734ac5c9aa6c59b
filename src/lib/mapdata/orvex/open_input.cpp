// Opening file inputs: resolving the name, recognising the data type,
// reading a raw grid's parameter file, mapping the file and scanning it.

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "OrvexInternal.h"

namespace {

const char *const kDataDir = "maps/orx";
const long kMinFileSize = 16;  // the magic and the resolution count
const size_t kRelativeNameSize = 128;

// Gives up an input whose file is open but not yet mapped: closes it and
// releases the parameters and the path.
int abandon_open(int &fd, Pf *pf, char *path)
{
    close(fd);
    fd = -1;
    pffree(pf);
    free(path);
    return -1;
}

// The full path of `fname`: looked up under the data folder unless it is
// absolute or starts with '.', the default map when it is null.
char *resolve_name(const char *fname)
{
    if (fname && (fname[0] == '/' || fname[0] == '.')) {
        char *path = strdup(fname);
        if (!path) orvex_register_error(1, "Orvex::checkInputFile: strdup(%s) error.\n", fname);
        return path;
    }
    char relative[kRelativeNameSize];
    int n = fname ? snprintf(relative, sizeof relative, "%s/%s", kDataDir, fname)
                  : snprintf(relative, sizeof relative, "%s/default.orx", kDataDir);
    if (n < 0 || static_cast<size_t>(n) >= sizeof relative) {
        orvex_register_error(0,
                             "Orvex::checkInputFile: name %s/%s is longer than %zu characters.\n",
                             kDataDir, fname ? fname : "default.orx", kRelativeNameSize - 1);
        return nullptr;
    }
    char *path = datafile(nullptr, relative);
    if (!path) orvex_register_error(0, "Orvex::checkInputFile: datafile(%s) error.\n", relative);
    return path;
}

bool has_suffix(const char *path, const char *suffix)
{
    size_t lp = strlen(path), ls = strlen(suffix);
    return lp >= ls && strcmp(path + lp - ls, suffix) == 0;
}

// Data type from the type name, or -1 when the name decides nothing.
int type_from_name(const char *type_string)
{
    if (!type_string) return -1;
    if (strcmp(type_string, "orx") == 0) return ORVEX_DATA_ORX;
    if (strcmp(type_string, "rgb") == 0) return ORVEX_DATA_RGB;
    if (strcmp(type_string, "dem") == 0) return ORVEX_DATA_DEM;
    if (strcmp(type_string, "gshhs") == 0) return ORVEX_DATA_GSHHS;
    return -1;
}

int type_from_suffix(const char *path)
{
    if (has_suffix(path, ".orx")) return ORVEX_DATA_ORX;
    if (has_suffix(path, ".rgb")) return ORVEX_DATA_RGB;
    if (has_suffix(path, ".dem")) return ORVEX_DATA_DEM;
    if (has_suffix(path, ".gshhs")) return ORVEX_DATA_GSHHS;
    return -1;
}

// Reads the parameter file of a raw grid. A dem file's is tried twice, as
// the first read of a file that is being written may fail.
int read_parameters(const char *path, int type, Pf **pf)
{
    if (!pf) return 0;
    if (type == ORVEX_DATA_RGB) {
        if (pfread(path, pf) >= 0) return 0;
        orvex_register_error(
            0, "Orvex::checkInputFile: Could not read parameter file for rgb file %s.\n", path);
        return -1;
    }
    if (type == ORVEX_DATA_DEM) {
        if (pfread(path, pf) >= 0 || pfread(path, pf) >= 0) return 0;
        orvex_register_error(
            0, "Orvex::checkInputFile: Could not read parameter file for dem file %s.\n", path);
        return -1;
    }
    return 0;
}

}  // namespace

char *Orvex::checkInputFile(const char *fname, int *type, Pf **pf, const char *type_string)
{
    char *path = resolve_name(fname);
    if (!path) return nullptr;
    if (pf) *pf = nullptr;

    int t = type_from_name(type_string);
    if (t < 0) t = type_from_suffix(path);
    if (t < 0) {
        orvex_register_error(0, "Orvex::checkInputFile: Unrecognized suffix for %s.\n", path);
        free(path);
        return nullptr;
    }
    if (read_parameters(path, t, pf) < 0) {
        free(path);
        return nullptr;
    }

    struct stat st;
    const char *failure = nullptr;
    int flag = 0;
    if (stat(path, &st) < 0) {
        failure = "Orvex::checkInputFile: stat(%s) error.\n";
        flag = 1;
    } else if (st.st_size < kMinFileSize) {
        failure = "Orvex::checkInputFile: file %s appears to be too small.\n";
    }
    if (failure) {
        orvex_register_error(flag, failure, path);
        if (pf) {
            pffree(*pf);  // nobody else will release the set read above
            *pf = nullptr;
        }
        free(path);
        return nullptr;
    }
    if (type) *type = t;
    return path;
}

int Orvex::setInput(const char *name, int append_flag, const char *type_string)
{
    if (file_stream) {
        orvex_register_error(0, "Orvex::setInput: file(%s) already open.\n", fname);
        return -1;
    }
    if (dbname) {
        // The database input's resolutions would be replaced by the file's.
        orvex_register_error(0, "Orvex::setInput: database(%s) already open.\n", dbname);
        return -1;
    }
    if (fd >= 0) {
        // An output's descriptor would be lost and its file left half built.
        orvex_register_error(0, "Orvex::setInput: object is already the output %s.\n",
                             fname ? fname : "(unnamed)");
        return -1;
    }
    int type = -1;
    Pf *pf = nullptr;
    char *path = checkInputFile(name, &type, &pf, type_string);
    if (!path) {
        orvex_register_error(0, "Orvex::setInput: Orvex::checkInputFile() error.\n");
        return -1;
    }
    free(fname);
    fname = nullptr;
    file_size = 0;

    fd = open(path, append_flag ? O_RDWR : O_RDONLY);
    if (fd < 0) {
        orvex_register_error(1, "Orvex::setInput: open(%s) error.\n", path);
        pffree(pf);
        free(path);
        return -1;
    }
    struct stat st;
    bool stat_ok = fstat(fd, &st) == 0;
    if (!stat_ok || st.st_size < kMinFileSize) {
        if (!stat_ok)
            orvex_register_error(1, "Orvex::setInput: fstat(%s) error.\n", path);
        else
            orvex_register_error(0, "Orvex::setInput: file %s appears to be too small.\n", path);
        return abandon_open(fd, pf, path);
    }
    int prot = PROT_READ | (append_flag ? PROT_WRITE : 0);
    void *map = mmap(nullptr, static_cast<size_t>(st.st_size), prot, MAP_SHARED, fd, 0);
    if (map == MAP_FAILED) {
        orvex_register_error(1, "Orvex::setInput: mmap(%s) error.\n", path);
        return abandon_open(fd, pf, path);
    }
    file_stream = static_cast<unsigned char *>(map);
    file_size = static_cast<long>(st.st_size);
    fname = path;
    append = append_flag ? 1 : 0;

    // A failed earlier scan may have left records behind; the new scan
    // starts from an empty frame.
    OrvexPrivate::releaseFrame(this);
    int rc = scanInput(type, pf);
    pffree(pf);
    if (rc < 0) {
        // The scan may have addressed payloads inside the mapping: drop the
        // whole frame before the mapping goes, so nothing dangles. The
        // mapping is the library's own, so it releases it itself.
        releaseFrame();
        unmapfile(path, nullptr);
        munmap(file_stream, static_cast<size_t>(file_size));
        file_stream = nullptr;
        close(fd);  // a later setInput opens afresh; keep no stray descriptor
        fd = -1;
        orvex_register_error(0, "Orvex::setInput: scanInput(%s) error.\n", path);
        free(fname);
        fname = nullptr;
        return -1;
    }
    return 0;
}

int Orvex::scanInput(int type, Pf *pf)
{
    switch (type) {
    case ORVEX_DATA_ORX: return orvex_scan_map_file(this);
    case ORVEX_DATA_RGB:
    case ORVEX_DATA_DEM: return orvex_scan_raw_grid(this, type, pf);
    case ORVEX_DATA_GSHHS: return orvex_scan_gshhs(this);
    case ORVEX_DATA_ESRI: return orvex_scan_esri(this);
    default: return 0;  // no branch: nothing to build
    }
}

OrvexResolution *orvex_new_scan_resolution(Orvex *o)
{
    OrvexResolution *res = static_cast<OrvexResolution *>(orvex_calloc(1, sizeof(OrvexResolution)));
    if (!res) {
        orvex_register_error(1, "Orvex::scanInput: malloc(resolutions) error.\n");
        return nullptr;
    }
    o->frame.resolutions = res;
    o->frame.nresolutions = 1;
    return res;
}

// The output file and its input registry. A new output is created with the
// 24-byte file header; the registry records, for every output resolution,
// which inputs (object, resolution, tile) feed it, in the order declared.

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "OrvexInternal.h"

int Orvex::setOutput(const char *name)
{
    if (file_stream) {
        if (name) {
            orvex_register_error(0,
                                 "Orvex::setOutput: fname must be NULL when setting output for an "
                                 "already open input file.\n");
            return -1;
        }
        if (!append) {
            orvex_register_error(0,
                                 "Orvex::setOutput: Already open input file with append set to 0, "
                                 "open input file with append set to 1.\n");
            return -1;
        }
        return 0;
    }
    if (!name) {
        orvex_register_error(0,
                             "Orvex::setOutput: fname must not be NULL when setting output for a "
                             "new file.\n");
        return -1;
    }
    if (fd >= 0) {
        // A second output would drop the resolutions declared so far and
        // leave the first file half written.
        orvex_register_error(0, "Orvex::setOutput: object is already the output %s.\n",
                             fname ? fname : "(unnamed)");
        return -1;
    }
    if (access(name, F_OK) == 0) {
        orvex_register_error(0, "Orvex::setOutput: Cannot overwrite existing file %s.\n", name);
        return -1;
    }
    char *copy = strdup(name);
    if (!copy) {
        orvex_register_error(1, "Orvex::setOutput: strdup(%s) error.\n", name);
        return -1;
    }
    int out = open(name, O_RDWR | O_CREAT | O_TRUNC, 0664);
    if (out < 0) {
        orvex_register_error(1, "Orvex::setOutput: open(%s) error.\n", name);
        free(copy);
        return -1;
    }
    fd = out;
    file_size = 0;
    free(fname);
    fname = copy;

    OrvexPrivate::releaseFrame(this);
    frame = OrvexFrame();
    memcpy(frame.magic, "ORX0    ", 8);
    if (orvex_write_all(fd, &frame, sizeof frame) != ORVEX_IO_OK) {
        orvex_register_error(1, "Orvex::setOutput: write() error\n");
        return -1;
    }
    // The first resolution record lands on the 8 zero bytes that stand for
    // the in-memory array pointer.
    off_t pos = orvex_sys_lseek(fd, -8, SEEK_CUR);
    if (pos < 0) {
        orvex_register_error(1, "Orvex::setOutput: lseek() error\n");
        return -1;
    }
    nresolutions_offset = static_cast<long>(pos) - 8;
    OrvexPrivate::endOfHeaders(this) = static_cast<long>(pos);
    OrvexPrivate::payloadWritten(this) = 0;
    return 0;
}

int Orvex::setInputArr(Orvex *input, int input_resolution, int input_tile, int output_resolution)
{
    char key[64];
    snprintf(key, sizeof key, "%d", output_resolution);
    OrvexInput *record = static_cast<OrvexInput *>(orvex_calloc(1, sizeof(OrvexInput)));
    if (!record) {
        orvex_register_error(1, "Orvex::setInputArr: malloc(OrvexInput) error.\n");
        return -1;
    }
    record->input = input;
    record->resolution = input_resolution;
    record->tile = input_tile;

    Tbl *list = static_cast<Tbl *>(getarr(src_arr, key));
    bool new_list = false;
    if (!list) {
        list = newtbl(1);
        new_list = list != nullptr;
        if (list) setarr(src_arr, key, list);
    }
    if (!list || settbl(list, -1, record) < 0) {
        orvex_register_error(1, "Orvex::setInputArr: cannot extend the registry list %s.\n", key);
        if (new_list && maxtbl(list) == 0) {
            setarr(src_arr, key, nullptr);
            freetbl(list, nullptr);
        }
        free(record);
        return -1;
    }
    return 0;
}

int orvex_output_accepts_declaration(Orvex *o, const char *who)
{
    if (o->file_stream) {
        // Declarations are written at the current file position, which for
        // an input opened for appending is the start of its own header.
        orvex_register_error(0,
                             "%s: cannot declare resolutions in %s, an input opened for appending "
                             "(its header would be overwritten)\n",
                             who, o->fname ? o->fname : "(unnamed)");
        return -1;
    }
    if (OrvexPrivate::payloadWritten(o)) {
        orvex_register_error(0,
                             "%s: cannot declare a resolution after tile data has been written to "
                             "%s\n",
                             who, o->fname ? o->fname : "(unnamed)");
        return -1;
    }
    return 0;
}

OrvexResolution *orvex_grow_resolutions(OrvexFrame &frame, const char *who)
{
    if (!frame.resolutions) {
        frame.resolutions = static_cast<OrvexResolution *>(orvex_calloc(1, sizeof(OrvexResolution)));
        if (!frame.resolutions) {
            orvex_register_error(1, "%s: malloc(resolutions) error.\n", who);
            return nullptr;
        }
        return &frame.resolutions[0];
    }
    void *grown = orvex_sys_realloc(frame.resolutions, static_cast<size_t>(frame.nresolutions + 1) *
                                                          sizeof(OrvexResolution));
    if (!grown) {
        orvex_register_error(1, "%s: realloc(resolutions) error.\n", who);
        return nullptr;
    }
    frame.resolutions = static_cast<OrvexResolution *>(grown);
    return &frame.resolutions[frame.nresolutions];
}

// PNG output through libpng; errors come back through a jump buffer.
#include <png.h>
#include <stdio.h>
#include <string.h>
#include <errno.h>

#include <vector>

#include "draw.h"

namespace orvexcli {

namespace {

void append_bytes(png_structp png, png_bytep data, png_size_t n)
{
    static_cast<std::string *>(png_get_io_ptr(png))->append(reinterpret_cast<const char *>(data), n);
}

void flush_nothing(png_structp) {}

std::vector<png_bytep> row_pointers(const orvextool::Image &image)
{
    static_assert(sizeof(orvextool::Rgb) == 3, "pixels are packed RGB");
    std::vector<png_bytep> rows(static_cast<size_t>(image.height));
    for (long j = 0; j < image.height; j++)
        rows[static_cast<size_t>(j)] =
            reinterpret_cast<png_bytep>(const_cast<orvextool::Rgb *>(&image.pixels[static_cast<size_t>(j * image.width)]));
    return rows;
}

/* Runs libpng's writing to a file, or to a string when `file` is null;
 * libpng reports errors by long jump, so this function owns nothing that
 * would need unwinding. */
int write_rows(FILE *file, std::string *memory, int level, const orvextool::Image &image,
               const std::vector<png_bytep> &rows)
{
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!png) return -1;
    png_infop info = png_create_info_struct(png);
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, info ? &info : nullptr);
        return -1;
    }
    if (file) png_init_io(png, file);
    else png_set_write_fn(png, memory, append_bytes, flush_nothing);
    if (level >= 0) png_set_compression_level(png, level);
    png_set_IHDR(png, info, static_cast<png_uint_32>(image.width), static_cast<png_uint_32>(image.height), 8,
                 PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    png_write_image(png, const_cast<png_bytepp>(rows.data()));
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return 0;
}

}  // namespace

int write_png(const orvextool::Image &image, const std::string &path, std::string *why)
{
    FILE *file = fopen(path.c_str(), "wb");
    if (!file) {
        *why = "cannot create '" + path + "': " + strerror(errno);
        return -1;
    }
    int rc = write_rows(file, nullptr, -1, image, row_pointers(image));
    if (fclose(file) != 0) rc = -1;
    if (rc != 0) {
        *why = "cannot write PNG '" + path + "'";
        remove(path.c_str());
    }
    return rc;
}

int encode_png(const orvextool::Image &image, int level, std::string *out)
{
    out->clear();
    return write_rows(nullptr, out, level, image, row_pointers(image));
}

}  // namespace orvexcli

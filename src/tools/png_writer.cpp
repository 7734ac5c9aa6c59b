// PNG output through libpng; errors come back through a jump buffer.
#include <png.h>
#include <stdio.h>
#include <string.h>
#include <errno.h>

#include <vector>

#include "render.h"

namespace orvexcli {

namespace {

/* Runs libpng's writing; libpng reports errors by long jump, so this
 * function owns nothing that would need unwinding. */
int write_rows(FILE *file, const orvextool::Image &image, const std::vector<png_bytep> &rows)
{
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!png) return -1;
    png_infop info = png_create_info_struct(png);
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, info ? &info : nullptr);
        return -1;
    }
    png_init_io(png, file);
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
    static_assert(sizeof(orvextool::Rgb) == 3, "pixels are packed RGB");
    FILE *file = fopen(path.c_str(), "wb");
    if (!file) {
        *why = "cannot create '" + path + "': " + strerror(errno);
        return -1;
    }
    std::vector<png_bytep> rows(static_cast<size_t>(image.height));
    for (long j = 0; j < image.height; j++)
        rows[static_cast<size_t>(j)] =
            reinterpret_cast<png_bytep>(const_cast<orvextool::Rgb *>(&image.pixels[static_cast<size_t>(j * image.width)]));
    int rc = write_rows(file, image, rows);
    if (fclose(file) != 0) rc = -1;
    if (rc != 0) {
        *why = "cannot write PNG '" + path + "'";
        remove(path.c_str());
    }
    return rc;
}

}  // namespace orvexcli

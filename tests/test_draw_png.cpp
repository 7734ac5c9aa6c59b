// PNG output of pictures: lossless palettes and RGB, and the reduced
// palette of web tiles, read back by libpng.
#include <gtest/gtest.h>
#include <math.h>
#include <png.h>
#include <string.h>

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "draw.h"
#include "palette.h"

namespace {

using orvextool::Image;
using orvextool::Rgb;

/* The pixels of a PNG read back by libpng, and its colour type. */
Image read_png(const std::string &png, int *colour_type)
{
    png_image img{};
    img.version = PNG_IMAGE_VERSION;
    EXPECT_TRUE(png_image_begin_read_from_memory(&img, png.data(), png.size()));
    *colour_type = static_cast<unsigned char>(png[25]);
    img.format = PNG_FORMAT_RGB;
    Image out(img.width, img.height, Rgb{});
    EXPECT_TRUE(png_image_finish_read(&img, nullptr, out.pixels.data(), 0, nullptr));
    return out;
}

TEST(DrawPng, PaletteWhenFewColoursElseRgbBothLossless)
{
    Image few(5, 3, Rgb{10, 20, 30});
    few.at(1, 1) = Rgb{200, 100, 0};
    std::string png;
    ASSERT_EQ(orvexcli::encode_png(few, 6, &png), 0);
    EXPECT_EQ(png.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
    /* IHDR: 5 x 3, 8 bits, colour type 3 (palette), then a PLTE of the two
     * colours in order of appearance. */
    EXPECT_EQ(png.substr(8, 25), std::string("\0\0\0\x0dIHDR\0\0\0\x05\0\0\0\x03\x08\x03\0\0\0", 21) + png.substr(29, 4));
    EXPECT_EQ(png.substr(33, 14), std::string("\0\0\0\x06PLTE\x0a\x14\x1e\xc8\x64\x00", 14));
    int type = -1;
    Image back = read_png(png, &type);
    EXPECT_EQ(type, 3);
    EXPECT_EQ(0, memcmp(back.pixels.data(), few.pixels.data(), few.pixels.size() * 3));

    Image many(40, 30, Rgb{});
    for (long j = 0; j < 30; j++)
        for (long i = 0; i < 40; i++) many.at(i, j) = Rgb{static_cast<unsigned char>(i * 6), static_cast<unsigned char>(j * 8), static_cast<unsigned char>(i * j)};
    ASSERT_EQ(orvexcli::encode_png(many, 1, &png), 0);
    back = read_png(png, &type);
    EXPECT_EQ(type, 2);
    EXPECT_EQ(0, memcmp(back.pixels.data(), many.pixels.data(), many.pixels.size() * 3));
}

int largest_gap(const Image &a, const Image &b, double *mean)
{
    int worst = 0;
    double sum = 0;
    for (size_t k = 0; k < a.pixels.size(); k++) {
        const Rgb &p = a.pixels[k], &q = b.pixels[k];
        int d[3] = {abs(p.r - q.r), abs(p.g - q.g), abs(p.b - q.b)};
        for (int c = 0; c < 3; c++) {
            worst = std::max(worst, d[c]);
            sum += d[c];
        }
    }
    *mean = sum / (3.0 * static_cast<double>(a.pixels.size()));
    return worst;
}

/* A shaded slope: every pixel a colour of its own, smooth from one to the
 * next, as land tiles are. */
Image shaded_slope(long size)
{
    Image image(size, size, Rgb{});
    for (long j = 0; j < size; j++)
        for (long i = 0; i < size; i++) {
            double z = 3000.0 * i / size + 400 * sin(j * 0.05) * cos(i * 0.07);
            image.at(i, j) = orvextool::shaded_elevation_colour(z, 0.6 + 0.8 * j / size);
        }
    return image;
}

TEST(DrawPngReduced, FewColoursStayExactAndDataPicturesStayRgb)
{
    /* 250 colours scattered: kept exactly, nothing reported lost. */
    Image few(50, 40, Rgb{});
    for (size_t k = 0; k < few.pixels.size(); k++) {
        unsigned v = static_cast<unsigned>((k * 7919) % 250);
        few.pixels[k] = Rgb{static_cast<unsigned char>(v), static_cast<unsigned char>(255 - v), static_cast<unsigned char>(v * 3)};
    }
    std::string png;
    orvexcli::PaletteError error;
    ASSERT_EQ(orvexcli::encode_picture_png(few, 6, 32, 0, &png, &error), 0);
    int type = -1;
    Image back = read_png(png, &type);
    EXPECT_EQ(type, 3);
    EXPECT_EQ(error.max, 0);
    EXPECT_EQ(0, memcmp(back.pixels.data(), few.pixels.data(), few.pixels.size() * 3));

    /* Many colours: the plain writer and a picture whose bound the palette
     * would pass both give RGB, byte for byte the same. */
    Image slope = shaded_slope(128);
    std::string plain, strict;
    ASSERT_EQ(orvexcli::encode_png(slope, 6, &plain), 0);
    ASSERT_EQ(orvexcli::encode_picture_png(slope, 6, -1, 0, &strict, &error), 0);
    EXPECT_EQ(plain, strict);
    EXPECT_EQ(error.max, 0);
    back = read_png(plain, &type);
    EXPECT_EQ(type, 2);
    EXPECT_EQ(0, memcmp(back.pixels.data(), slope.pixels.data(), slope.pixels.size() * 3));
}

TEST(DrawPngReduced, SmoothSlopeTakesAPaletteWithinTheReportedError)
{
    Image slope = shaded_slope(256);
    std::string png, plain;
    orvexcli::PaletteError error;
    ASSERT_EQ(orvexcli::encode_picture_png(slope, 6, 32, 0, &png, &error), 0);
    int type = -1;
    Image back = read_png(png, &type);
    ASSERT_EQ(type, 3);
    double mean = 0;
    int worst = largest_gap(slope, back, &mean);
    /* What the encoder says it lost is what libpng finds lost. */
    EXPECT_EQ(worst, error.max);
    EXPECT_NEAR(mean, error.mean, 1e-9);
    /* The whole land ramp under strong shading: as many colours as the
     * busiest tiles (the Alps at zoom 5-6 lose at most 25, 2.3 on mean). */
    EXPECT_LE(worst, 16);
    EXPECT_LT(mean, 2.5);
    ASSERT_EQ(orvexcli::encode_png(slope, 6, &plain), 0);
    EXPECT_LT(png.size() * 2, plain.size());
    /* A bound below the error keeps the picture exact. */
    ASSERT_EQ(orvexcli::encode_picture_png(slope, 6, worst - 1, 0, &png, &error), 0);
    EXPECT_EQ(png, plain);
}

TEST(DrawPngReduced, RareColoursOfLinesStayNearTheirOwn)
{
    /* A thin red line and a few black dots over the slope: too few pixels
     * to earn a box of their own early, they must still come out red and
     * black, not the slope's colour. */
    Image image = shaded_slope(256);
    for (long i = 0; i < 256; i++) image.at(i, 100) = Rgb{220, 20, 30};
    for (long k = 0; k < 5; k++) image.at(20 + 40 * k, 30) = Rgb{0, 0, 0};
    std::string plte;
    std::vector<unsigned char> indices;
    orvexcli::PaletteError error;
    orvexcli::reduce_colours(image, &plte, &indices, &error);
    ASSERT_LE(plte.size(), 3u * 256);
    ASSERT_EQ(plte.size() % 3, 0u);
    ASSERT_EQ(indices.size(), image.pixels.size());
    for (unsigned char i : indices) ASSERT_LT(3u * i, plte.size());
    auto colour = [&](long x, long y) {
        const unsigned char *p = reinterpret_cast<const unsigned char *>(plte.data()) + 3 * indices[static_cast<size_t>(y * 256 + x)];
        return Rgb{p[0], p[1], p[2]};
    };
    for (long i = 0; i < 256; i += 17) {
        Rgb c = colour(i, 100);
        EXPECT_LE(abs(c.r - 220) + abs(c.g - 20) + abs(c.b - 30), 12) << i;
    }
    for (long k = 0; k < 5; k++) {
        Rgb c = colour(20 + 40 * k, 30);
        EXPECT_LE(c.r + c.g + c.b, 12) << k;
    }
    EXPECT_LE(error.max, 16);
}

std::array<int, 3> rgb_of(const Rgb &c)
{
    return {c.r, c.g, c.b};
}

TEST(DrawPngReduced, CloseColoursMergeIntoTheCommonOneWithinTheTolerance)
{
    /* A sea of one blue with pixels a level or three off, and a line of
     * a distinct colour whose edges are four levels off: the sea becomes
     * one colour, the line and its edges keep theirs. */
    Image image(64, 64, Rgb{100, 150, 200});
    for (long k = 0; k < 64; k++) {
        image.at(k, 10) = Rgb{101, 152, 197};
        image.at(k, 20) = Rgb{103, 147, 203};
        image.at(k, 30) = Rgb{30, 60, 90};
        image.at(k, 31) = Rgb{34, 60, 90};
    }
    std::string png;
    orvexcli::PaletteError error;
    ASSERT_EQ(orvexcli::encode_picture_png(image, 6, 32, 3, &png, &error), 0);
    int type = -1;
    Image back = read_png(png, &type);
    ASSERT_EQ(type, 3);
    EXPECT_EQ(rgb_of(back.at(5, 10)), (std::array<int, 3>{100, 150, 200}));
    EXPECT_EQ(rgb_of(back.at(5, 20)), (std::array<int, 3>{100, 150, 200}));
    EXPECT_EQ(rgb_of(back.at(5, 30)), (std::array<int, 3>{30, 60, 90}));
    EXPECT_EQ(rgb_of(back.at(5, 31)), (std::array<int, 3>{34, 60, 90}));
    double mean = 0;
    EXPECT_EQ(error.max, largest_gap(image, back, &mean));
    EXPECT_EQ(error.max, 3);
    EXPECT_NEAR(error.mean, mean, 1e-9);

    /* On a strongly shaded slope (already reduced to 256 colours) the
     * merged picture stays within the tolerance of the reduced one. */
    Image slope = shaded_slope(256);
    std::string exact, merged;
    orvexcli::PaletteError e0, e1;
    ASSERT_EQ(orvexcli::encode_picture_png(slope, 6, 32, 0, &exact, &e0), 0);
    ASSERT_EQ(orvexcli::encode_picture_png(slope, 6, 32, 3, &merged, &e1), 0);
    EXPECT_LE(e1.max, e0.max + 3);
    EXPECT_LE(merged.size(), exact.size());
}

TEST(DrawPngReduced, RefusesAPictureWhosePixelsDoNotMatchItsSize)
{
    Image image(4, 4, Rgb{1, 2, 3});
    image.pixels.resize(10);
    std::string png = "old";
    EXPECT_EQ(orvexcli::encode_picture_png(image, 6, 32, 0, &png), -1);
    EXPECT_TRUE(png.empty());
    EXPECT_EQ(orvexcli::encode_png(image, 6, &png), -1);
    Image empty(0, 3, Rgb{});
    EXPECT_EQ(orvexcli::encode_picture_png(empty, 6, 32, 0, &png), -1);
}

}  // namespace

// Draws web tiles as `orvex serve` does, each from a cold cache, and prints
// the CPU time of the relief alone and of the whole tile (drawn and made
// PNG) and the PNG bytes of every tile, then their means.
//   bench_draw_tiles MAP OUTDIR Z/X/Y...
// The PNGs are left in OUTDIR as Z_X_Y.png for a look and for comparison.
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include <string>
#include <vector>

#include "Orvex.h"
#include "draw.h"

namespace {

double cpu_ms()
{
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) * 1e-6;
}

}  // namespace

int main(int argc, char **argv)
{
    using namespace orvexcli;
    if (argc < 4) {
        fprintf(stderr, "usage: %s MAP OUTDIR Z/X/Y...\n", argv[0]);
        return 2;
    }
    /* ORVEX_BENCH_RELIEF_ONLY=1 skips the whole tiles (for profiling). */
    const char *only = getenv("ORVEX_BENCH_RELIEF_ONLY");
    bool relief_only = only && *only == '1';
    /* ORVEX_BENCH_PNG_LEVEL=N deflates at level N instead of the tiles' own. */
    const char *level_text = getenv("ORVEX_BENCH_PNG_LEVEL");
    int level = level_text ? atoi(level_text) : orvexcli::kTilePngLevel;
    /* ORVEX_BENCH_MAX_ERROR=N allows a reduced palette up to that colour
     * error instead of the tiles' own bound (-1: lossless PNGs only). */
    const char *error_text = getenv("ORVEX_BENCH_MAX_ERROR");
    int max_error = error_text ? atoi(error_text) : orvexcli::kTileMaxColourError;
    /* ORVEX_BENCH_PNG_MERGE=N merges colours within N levels instead. */
    const char *merge_text = getenv("ORVEX_BENCH_PNG_MERGE");
    int merge = merge_text ? atoi(merge_text) : orvexcli::kTileColourMerge;
    Orvex map;
    if (map.setInput(argv[1], 0, nullptr) != 0) {
        fprintf(stderr, "cannot open %s\n", argv[1]);
        return 1;
    }
    /* Rings are collected once per set of resolutions, as the server does. */
    std::vector<std::pair<std::vector<int>, std::vector<Ring>>> rings;
    double relief_sum = 0, relief_bytes_sum = 0, cpu_sum = 0, bytes_sum = 0, error_sum = 0;
    int n = 0, reduced = 0, worst = 0;
    for (int a = 3; a < argc; a++) {
        int z = 0;
        long x = 0, y = 0;
        if (sscanf(argv[a], "%d/%ld/%ld", &z, &x, &y) != 3) continue;
        View view = web_tile_view(z, x, y);
        PictureChoice choice = web_tile_choice(map, view, -1);
        const std::vector<Ring> *r = nullptr;
        for (auto &c : rings)
            if (c.first == choice.vectors) r = &c.second;
        if (!r && !relief_only) {
            rings.emplace_back(choice.vectors, collect_rings(map, choice.vectors));
            r = &rings.back().second;
        }
        Layers layers;
        layers.grid = choice.grid;
        /* The relief alone, then the whole tile, each from a cold cache. */
        double ms[2] = {0, 0};
        size_t relief_bytes = 0;
        std::string png;
        PaletteError error;
        for (int pass = 0; pass < (relief_only ? 1 : 2); pass++) {
            layers.rings = pass ? r : nullptr;
            map.cleanCache(0, 1);
            double t0 = cpu_ms();
            orvextool::Image image(1, 1, orvextool::Rgb{});
            if (draw_picture({&map}, layers, view, &image) != 0 ||
                encode_picture_png(image, level, max_error, merge, &png, &error) != 0) {
                fprintf(stderr, "tile %s failed\n", argv[a]);
                return 1;
            }
            ms[pass] = cpu_ms() - t0;
            if (pass == 0) relief_bytes = png.size();
        }
        std::string path = std::string(argv[2]) + "/" + std::to_string(z) + "_" + std::to_string(x) + "_" +
                           std::to_string(y) + ".png";
        FILE *f = fopen(path.c_str(), "wb");
        if (f) {
            fwrite(png.data(), 1, png.size(), f);
            fclose(f);
        }
        printf("%d/%ld/%ld relief %.2f ms %zu bytes, whole tile %.2f ms %zu bytes, colour error max %d mean %.2f\n", z,
               x, y, ms[0], relief_bytes, ms[1], png.size(), error.max, error.mean);
        if (error.max > 0) reduced++;
        if (error.max > worst) worst = error.max;
        error_sum += error.mean;
        relief_bytes_sum += static_cast<double>(relief_bytes);
        relief_sum += ms[0];
        cpu_sum += ms[1];
        bytes_sum += static_cast<double>(png.size());
        n++;
    }
    if (n)
        printf("colour error (whole tiles): %d of %d tiles reduced to a palette, largest %d, mean %.3f\n", reduced, n,
               worst, error_sum / n);
    if (n)
        printf("mean relief %.2f ms %.0f bytes, whole tile %.2f ms %.0f bytes over %d tiles\n", relief_sum / n,
               relief_bytes_sum / n, cpu_sum / n, bytes_sum / n, n);
    return 0;
}

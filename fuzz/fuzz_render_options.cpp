// Fuzz target: any command line of `orvex render` (one argument a line) is
// parsed or refused with a reason, and what is accepted describes a
// drawable region and image.

#include <math.h>

#include "fuzz_words.h"
#include "render_options.h"

namespace {

bool drawable(const orvextool::RenderOptions &o)
{
    const orvextool::Region &r = o.region;
    bool region_ok = isfinite(r.west) && isfinite(r.east) && r.east > r.west && r.width() <= 360 &&
                     r.south >= -90 && r.north <= 90 && r.south < r.north;
    long height = orvextool::region_height_px(r, o.width);
    return region_ok && !o.output.empty() && o.width >= 16 && o.width <= 16384 && height >= 1 &&
           o.cache_mb >= 1 && o.cache_mb <= (1L << 20);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, size_t size)
{
    FuzzArgv words("render", data, size);
    orvextool::RenderOptions o;
    std::string why;
    bool ok = orvextool::parse_render_options(words.argc(), words.argv(), &o, &why);
    if (ok ? !drawable(o) : why.empty()) __builtin_trap();
    return 0;
}

// Fuzz target: any command line of `orvex build` (one argument a line) is
// parsed or refused with a reason. A recipe it names is always the one
// recipe file of the run, so that no input reads an arbitrary file.

#include "fuzz_build_plan.h"
#include "fuzz_files.h"
#include "fuzz_words.h"

namespace {

const char kRecipe[] =
    "# relief in two resolutions and filled shorelines\n"
    "grid etopo5.dem --tiles 6x12 --name etopo5 --label \"5 arc-minutes\"\n"
    "grid etopo5.dem --dec 3 --tiles 2x4 --name etopo15 --label '15 arc-minutes'\n"
    "vector land.gshhs --fill --level 1 --name shore\n"
    "vector lakes.gshhs --add --fill --level 2\n";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, size_t size)
{
    static const std::string recipe = [] {
        std::string p = fuzzfiles::path("fixed.recipe");
        fuzzfiles::write_file(p, kRecipe, sizeof kRecipe - 1);
        return p;
    }();
    FuzzArgv words("build", data, size);
    std::vector<std::string> args = words.args();
    for (size_t i = 0; i + 1 < args.size(); i++)
        if (args[i] == "--recipe") args[++i] = recipe;
    fuzzbuild::check_build_args(args);
    return 0;
}

// Fuzz target: any bytes given as a build recipe file are spliced into the
// command line and parsed, or refused with a reason.

#include "fuzz_build_plan.h"
#include "fuzz_files.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, size_t size)
{
    static const std::string recipe = fuzzfiles::path("input.recipe");
    fuzzfiles::write_file(recipe, data, size);
    fuzzbuild::check_build_args({"out.orx", "--quiet", "--recipe", recipe, "--gamma", "1.2"});
    return 0;
}

// The options of `orvex render`: what each sets, and the reason given for
// every mistake (the command prints it as its usage error).

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "render_options.h"

using orvextool::RenderOptions;

namespace {

// Parses "render" followed by `args`. The words are kept until the next
// call, as o->map points into them.
bool parse(std::vector<std::string> args, RenderOptions *o, std::string *why)
{
    static std::vector<std::string> words;
    words = std::move(args);
    words.insert(words.begin(), "render");
    std::vector<char *> argv;
    for (std::string &w : words) argv.push_back(&w[0]);
    return orvextool::parse_render_options(static_cast<int>(argv.size()), argv.data(), o, why);
}

}  // namespace

TEST(ToolRenderOptions, EveryOptionSetsItsField)
{
    RenderOptions o;
    std::string why;
    ASSERT_TRUE(parse({"map.orx", "--output", "x.png", "--region", "170/-170/-50/-30", "--width", "64", "--color",
                       "--grid", "none", "--vector", "1,2", "--cache-mb", "8"},
                      &o, &why))
        << why;
    EXPECT_STREQ(o.map, "map.orx");
    EXPECT_EQ(o.output, "x.png");
    EXPECT_EQ(o.region.west, 170);
    EXPECT_EQ(o.region.east, 190);
    EXPECT_EQ(o.region.south, -50);
    EXPECT_EQ(o.width, 64);
    EXPECT_TRUE(o.colour);
    EXPECT_EQ(o.grid, "none");
    EXPECT_EQ(o.vector, "1,2");
    EXPECT_EQ(o.cache_mb, 8);

    RenderOptions d;
    ASSERT_TRUE(parse({"-o", "y.png"}, &d, &why));
    EXPECT_EQ(d.map, nullptr);
    EXPECT_EQ(d.width, 2048);
    EXPECT_EQ(d.region.west, -180);
    EXPECT_EQ(d.region.north, 90);
    EXPECT_EQ(d.grid, "auto");
    EXPECT_EQ(d.vector, "auto");
    EXPECT_EQ(d.cache_mb, 64);
    EXPECT_FALSE(d.colour);
}

TEST(ToolRenderOptions, EveryMistakeGivesItsReason)
{
    const struct {
        std::vector<std::string> args;
        const char *why;
    } cases[] = {
        {{"map.orx"}, "no output file given (-o OUT.png)"},
        {{"-o", "x.png", "--width"}, "--width needs a value"},
        {{"-o"}, "-o needs a value"},
        {{"-o", "x.png", "--width", "5"}, "--width '5' is not a whole number from 16 to 16384"},
        {{"-o", "x.png", "--width", "64px"}, "--width '64px' is not a whole number from 16 to 16384"},
        {{"-o", "x.png", "--cache-mb", "0"}, "--cache-mb '0' is not a whole number of megabytes"},
        {{"-o", "x.png", "--region", "0/10/20/10"}, "latitudes must satisfy -90 <= S < N <= 90"},
        {{"-o", "x.png", "--zoom"}, "unknown option --zoom"},
        {{"a.orx", "b.orx", "-o", "x.png"}, "more than one MAP given"},
    };
    for (const auto &c : cases) {
        RenderOptions o;
        std::string why;
        EXPECT_FALSE(parse(c.args, &o, &why)) << c.why;
        EXPECT_EQ(why, c.why);
    }
}

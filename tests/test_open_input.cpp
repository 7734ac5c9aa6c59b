// Opening file inputs: names, data types, sizes, parameter files and the
// message chains of every refusal.

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "OrvexInternal.h"
#include "map_bytes.h"

using orvex_test::clearRegister;
using orvex_test::MapBytes;
using orvex_test::registered;
using orvex_test::TempDir;
using orvex_test::writeFile;
using orvex_test::writeText;
using Chain = std::vector<std::string>;

namespace {

class OpenInput : public ::testing::Test {
protected:
    TempDir data;
    void SetUp() override
    {
        clearRegister();
        mkdir(data.file("maps").c_str(), 0755);
        mkdir(data.file("maps/orx").c_str(), 0755);
        setenv("ORVEX_DATA", data.path().c_str(), 1);
    }
    void TearDown() override
    {
        unsetenv("ORVEX_DATA");
        clearRegister();
    }
    // What the toolkit registers before the library when no data folder
    // holds the relative name.
    std::string notFound(const std::string &relative)
    {
        return "datafile: cannot open " + relative + ": No such file or directory (tried " + data.file(relative) +
               ", " + datafile_install_dir() + "/" + relative + ")\n";
    }
    std::string emptyMap(const std::string &path)
    {
        MapBytes m;
        m.header(0).zeros(8);
        writeFile(path, m.bytes);
        return path;
    }
};

TEST_F(OpenInput, NullNameOpensTheDefaultMap)
{
    emptyMap(data.file("maps/orx/default.orx"));
    Orvex o;
    ASSERT_EQ(o.setInput(nullptr, 0, nullptr), 0);
    EXPECT_EQ(std::string(o.fname), data.file("maps/orx/default.orx"));
    EXPECT_EQ(o.file_size, 24);
    EXPECT_EQ(o.frame.nresolutions, 0);
    EXPECT_EQ(memcmp(o.frame.magic, "ORX0    ", 8), 0);
}

TEST_F(OpenInput, MissingDefaultMapNamesTheRelativePath)
{
    Orvex o;
    EXPECT_EQ(o.setInput(nullptr, 0, nullptr), -1);
    EXPECT_EQ(registered(), (Chain{notFound("maps/orx/default.orx"),
                                   "Orvex::checkInputFile: datafile(maps/orx/default.orx) error.\n",
                                   "Orvex::setInput: Orvex::checkInputFile() error.\n"}));
    EXPECT_EQ(o.file_stream, nullptr);
    EXPECT_EQ(o.fd, -1);
}

TEST_F(OpenInput, PlainNamesAreLookedUpUnderTheDataFolder)
{
    emptyMap(data.file("maps/orx/coast"));
    int type = -1;
    char *path = Orvex::checkInputFile("coast", &type, nullptr, "orx");
    ASSERT_NE(path, nullptr);
    EXPECT_EQ(std::string(path), data.file("maps/orx/coast"));
    free(path);
    EXPECT_EQ(Orvex::checkInputFile("nowhere.orx", &type, nullptr, nullptr), nullptr);
    EXPECT_EQ(registered(), (Chain{notFound("maps/orx/nowhere.orx"),
                                   "Orvex::checkInputFile: datafile(maps/orx/nowhere.orx) error.\n"}));
}

TEST_F(OpenInput, PathsStartingWithSlashOrDotAreUsedUnchanged)
{
    std::string abs = emptyMap(data.file("coast.orx"));
    int type = -1;
    char *path = Orvex::checkInputFile(abs.c_str(), &type, nullptr, nullptr);
    ASSERT_NE(path, nullptr);
    EXPECT_EQ(std::string(path), abs);
    EXPECT_EQ(type, 0);
    free(path);
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(chdir(data.path().c_str()), 0);
    path = Orvex::checkInputFile("./coast.orx", &type, nullptr, nullptr);
    ASSERT_EQ(chdir(cwd), 0);
    ASSERT_NE(path, nullptr);
    EXPECT_STREQ(path, "./coast.orx");
    free(path);
}

TEST_F(OpenInput, TypeNameWinsOverTheSuffixExceptForDembAndEsri)
{
    std::string dat = data.file("x.dat");
    writeFile(dat, std::vector<unsigned char>(40, 0));
    int type = -1;
    char *path = Orvex::checkInputFile(dat.c_str(), &type, nullptr, "gshhs");
    ASSERT_NE(path, nullptr);
    EXPECT_EQ(type, 4);
    free(path);
    EXPECT_EQ(Orvex::checkInputFile(dat.c_str(), &type, nullptr, "demb"), nullptr);
    EXPECT_EQ(Orvex::checkInputFile(dat.c_str(), &type, nullptr, "esri"), nullptr);
    EXPECT_EQ(registered(), (Chain{"Orvex::checkInputFile: Unrecognized suffix for " + dat + ".\n",
                                   "Orvex::checkInputFile: Unrecognized suffix for " + dat + ".\n"}));
}

TEST_F(OpenInput, SuffixesDecideTheType)
{
    const char *names[] = {"a.orx", "a.rgb", "a.dem", "a.gshhs"};
    int expected[] = {0, 1, 2, 4};
    for (int i = 0; i < 4; i++) {
        std::string p = data.file(names[i]);
        writeFile(p, std::vector<unsigned char>(16, 0));
        writeText(p + ".pf", "lat 0\n");
        int type = -1;
        Pf *pf = nullptr;
        char *path = Orvex::checkInputFile(p.c_str(), &type, &pf, nullptr);
        ASSERT_NE(path, nullptr) << names[i];
        EXPECT_EQ(type, expected[i]);
        EXPECT_EQ(pf != nullptr, expected[i] == 1 || expected[i] == 2);
        pffree(pf);
        free(path);
    }
}

TEST_F(OpenInput, UnknownSuffixLeavesTwoMessages)
{
    std::string p = data.file("map.txt");
    writeFile(p, std::vector<unsigned char>(32, 0));
    Orvex o;
    EXPECT_EQ(o.setInput(p.c_str(), 0, nullptr), -1);
    EXPECT_EQ(registered(), (Chain{"Orvex::checkInputFile: Unrecognized suffix for " + p + ".\n",
                                   "Orvex::setInput: Orvex::checkInputFile() error.\n"}));
}

TEST_F(OpenInput, FifteenBytesAreTooSmallSixteenPass)
{
    std::string p = data.file("small.orx");
    writeFile(p, std::vector<unsigned char>(15, 0));
    Orvex o;
    EXPECT_EQ(o.setInput(p.c_str(), 0, nullptr), -1);
    EXPECT_EQ(registered(), (Chain{"Orvex::checkInputFile: file " + p + " appears to be too small.\n",
                                   "Orvex::setInput: Orvex::checkInputFile() error.\n"}));
    writeFile(p, std::vector<unsigned char>(16, 0));
    int type = -1;
    char *path = Orvex::checkInputFile(p.c_str(), &type, nullptr, nullptr);
    EXPECT_NE(path, nullptr);
    free(path);
}

TEST_F(OpenInput, MissingFileReportsStatWithTheSystemError)
{
    std::string p = data.file("absent.orx");
    Orvex o;
    EXPECT_EQ(o.setInput(p.c_str(), 0, nullptr), -1);
    Chain chain = registered();
    ASSERT_EQ(chain.size(), 2u);
    EXPECT_EQ(chain[0], "Orvex::checkInputFile: stat(" + p + ") error.: " + strerror(ENOENT) + "\n");
}

TEST_F(OpenInput, RawGridWithoutParameterFileIsRefused)
{
    std::string rgb = data.file("img.rgb"), dem = data.file("elev.dem");
    writeFile(rgb, std::vector<unsigned char>(48, 0));
    writeFile(dem, std::vector<unsigned char>(48, 0));
    Orvex a, b;
    EXPECT_EQ(a.setInput(rgb.c_str(), 0, nullptr), -1);
    EXPECT_EQ(b.setInput(dem.c_str(), 0, nullptr), -1);
    EXPECT_EQ(registered(),
              (Chain{"Orvex::checkInputFile: Could not read parameter file for rgb file " + rgb + ".\n",
                     "Orvex::setInput: Orvex::checkInputFile() error.\n",
                     "Orvex::checkInputFile: Could not read parameter file for dem file " + dem + ".\n",
                     "Orvex::setInput: Orvex::checkInputFile() error.\n"}));
}

TEST_F(OpenInput, SecondInputIsRefusedAndTheFirstKept)
{
    std::string first = emptyMap(data.file("first.orx"));
    std::string second = emptyMap(data.file("second.orx"));
    Orvex o;
    ASSERT_EQ(o.setInput(first.c_str(), 0, nullptr), 0);
    unsigned char *stream = o.file_stream;
    EXPECT_EQ(o.setInput(second.c_str(), 0, nullptr), -1);
    EXPECT_EQ(registered(), Chain{"Orvex::setInput: file(" + first + ") already open.\n"});
    EXPECT_EQ(o.file_stream, stream);
    EXPECT_EQ(std::string(o.fname), first);
}

TEST_F(OpenInput, FailedScanForgetsTheMappingAndCanBeRetried)
{
    std::string bad = data.file("bad.orx");
    MapBytes m;
    m.header(0, "orx0    ").zeros(8);
    writeFile(bad, m.bytes);
    std::string good = emptyMap(data.file("good.orx"));
    Orvex o;
    EXPECT_EQ(o.setInput(bad.c_str(), 0, nullptr), -1);
    EXPECT_EQ(registered(), (Chain{"Orvex::scanInput: wrong magic number.\n",
                                   "Orvex::setInput: scanInput(" + bad + ") error.\n"}));
    EXPECT_EQ(o.file_stream, nullptr);
    EXPECT_EQ(o.fname, nullptr);
    EXPECT_EQ(o.frame.nresolutions, 0);
    EXPECT_EQ(o.frame.resolutions, nullptr);
    EXPECT_EQ(o.setInput(good.c_str(), 0, nullptr), 0);
}

TEST_F(OpenInput, AppendingMapsTheFileWritable)
{
    std::string p = emptyMap(data.file("rw.orx"));
    Orvex o;
    ASSERT_EQ(o.setInput(p.c_str(), 1, nullptr), 0);
    EXPECT_EQ(o.append, 1);
    o.file_stream[23] = 7;  // a read-only mapping would fault here
    EXPECT_GE(o.fd, 0);
}

TEST_F(OpenInput, OverlongRelativeNamesAreRefusedNotTruncated)
{
    std::string fits(127 - strlen("maps/orx/"), 'a');
    std::string too_long = fits + "b";
    int type = -1;
    EXPECT_EQ(Orvex::checkInputFile(fits.c_str(), &type, nullptr, "orx"), nullptr);
    EXPECT_EQ(registered(), (Chain{notFound("maps/orx/" + fits),
                                   "Orvex::checkInputFile: datafile(maps/orx/" + fits + ") error.\n"}));
    clearRegister();
    EXPECT_EQ(Orvex::checkInputFile(too_long.c_str(), &type, nullptr, "orx"), nullptr);
    Chain chain = registered();
    ASSERT_EQ(chain.size(), 1u);
    EXPECT_NE(chain[0].find("is longer than 127 characters"), std::string::npos) << chain[0];
}

TEST_F(OpenInput, OutputObjectRefusesToBecomeAnInput)
{
    std::string in = emptyMap(data.file("in.orx"));
    Orvex o;
    ASSERT_EQ(o.setOutput(data.file("out.orx").c_str()), 0);
    int fd = o.fd;
    EXPECT_EQ(o.setInput(in.c_str(), 0, nullptr), -1);
    EXPECT_EQ(o.fd, fd);
    EXPECT_EQ(o.file_stream, nullptr);
}

TEST(ErrorFunctions, FormatWithoutConversionsIsRegisteredUnchanged)
{
    clearRegister();
    orvex_register_error(0, "Orvex::x: plain text, no conversions.\n");
    orvex_register_error(0, "Orvex::y: %s=%d\n", "n", 3);
    EXPECT_EQ(registered(), (Chain{"Orvex::x: plain text, no conversions.\n", "Orvex::y: n=3\n"}));
    orvex_clear_register(0);
    EXPECT_EQ(elog_count(), 0);
}

TEST(ErrorFunctions, ComplainPrintsTheRegisterOnStandardError)
{
    clearRegister();
    orvex_register_error(0, "Orvex::inner: failed.\n");
    testing::internal::CaptureStderr();
    orvex_complain(0, "tool: giving up.\n");
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "Orvex::inner: failed.\ntool: giving up.\n");
    EXPECT_EQ(elog_count(), 0);
}

TEST(ErrorFunctions, DieEndsTheProcessWithStatusOne)
{
    EXPECT_EXIT(orvex_die(0, "tool: fatal %d.\n", 9), testing::ExitedWithCode(1), "tool: fatal 9.");
}

}  // namespace

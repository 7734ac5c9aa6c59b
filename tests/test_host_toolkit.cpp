// The host toolkit stand-in: error register, data files, parameter files,
// containers, byte order, distance and mappings.

#include <errno.h>
#include <gtest/gtest.h>
#include <math.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <string>
#include <thread>

#include "hostkit.h"
#include "map_bytes.h"

using orvex_test::clearRegister;
using orvex_test::registered;
using orvex_test::TempDir;
using orvex_test::writeText;

namespace {

void log(int flag, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    elog_log(flag, format, args);
    va_end(args);
}

TEST(ErrorRegister, KeepsMessagesInOrderAndAddsTheSystemError)
{
    clearRegister();
    log(0, "first %d\n", 1);
    errno = ENOENT;
    log(1, "second(%s) error.\n", "x");
    log(0, "no newline");
    ASSERT_EQ(elog_count(), 3);
    EXPECT_STREQ(elog_message(0), "first 1\n");
    EXPECT_EQ(std::string(elog_message(1)), "second(x) error.: " + std::string(strerror(ENOENT)) + "\n");
    EXPECT_STREQ(elog_message(2), "no newline");
    EXPECT_EQ(elog_message(3), nullptr);
    EXPECT_EQ(elog_message(-1), nullptr);

    char *text = nullptr;
    size_t len = 0;
    FILE *mem = open_memstream(&text, &len);
    elog_print(mem);
    fclose(mem);
    EXPECT_EQ(std::string(text), "first 1\nsecond(x) error.: " + std::string(strerror(ENOENT)) +
                                     "\nno newline\n");
    free(text);
    elog_clear_register(0);
    EXPECT_EQ(elog_count(), 0);
}

TEST(ErrorRegister, EachThreadReadsItsOwnChain)
{
    clearRegister();
    log(0, "main\n");
    std::vector<std::string> seen;
    std::thread t([&] {
        log(0, "worker\n");
        seen = registered();
    });
    t.join();
    EXPECT_EQ(seen, std::vector<std::string>{"worker\n"});
    EXPECT_EQ(registered(), std::vector<std::string>{"main\n"});
    clearRegister();
}

TEST(DataFile, SearchesTheFoldersOfTheEnvironmentInOrder)
{
    TempDir a, b;
    mkdir(a.file("maps").c_str(), 0755);
    mkdir(b.file("maps").c_str(), 0755);
    writeText(b.file("maps/x.orx"), "b");
    std::string env = a.path() + ":" + b.path();
    setenv("ORVEX_DATA", env.c_str(), 1);
    char *path = datafile(nullptr, "maps/x.orx");
    ASSERT_NE(path, nullptr);
    EXPECT_EQ(std::string(path), b.file("maps/x.orx"));
    free(path);
    writeText(a.file("maps/x.orx"), "a");
    path = datafile(nullptr, "maps/x.orx");
    EXPECT_EQ(std::string(path), a.file("maps/x.orx"));
    free(path);
    unsetenv("ORVEX_DATA");
}

TEST(DataFile, AFailedSearchSaysWhyAndWhereItLooked)
{
    TempDir a, b;
    mkdir(a.file("maps").c_str(), 0755);
    mkdir(b.file("maps").c_str(), 0755);
    std::string env = a.path() + ":" + b.path();
    setenv("ORVEX_DATA", env.c_str(), 1);
    elog_clear_register(0);
    EXPECT_EQ(datafile(nullptr, "maps/missing.orx"), nullptr);
    ASSERT_EQ(elog_count(), 1);
    std::string tried = a.file("maps/missing.orx") + ", " + b.file("maps/missing.orx") + ", " +
                        datafile_install_dir() + "/maps/missing.orx";
    EXPECT_EQ(std::string(elog_message(0)),
              "datafile: cannot open maps/missing.orx: No such file or directory (tried " + tried + ")\n");
    // A folder where the file should be says more than an absent file.
    elog_clear_register(0);
    mkdir(b.file("maps/missing.orx").c_str(), 0755);
    EXPECT_EQ(datafile(nullptr, "maps/missing.orx"), nullptr);
    ASSERT_EQ(elog_count(), 1);
    EXPECT_NE(std::string(elog_message(0)).find("maps/missing.orx: not a regular file (tried"), std::string::npos);
    elog_clear_register(0);
    unsetenv("ORVEX_DATA");
}

TEST(ParameterFile, ReadsKeysCommentsAndRepeatedKeys)
{
    TempDir dir;
    writeText(dir.file("g.dem.pf"),
              "# a raw grid\n"
              "lat   89.5   # first row\n"
              "\n"
              "nlat 10\n"
              "nlat 20\n"
              "bigendian  Yes\n"
              "name  two words \n"
              "bad 12abc\n"
              "huge 99999999999\n");
    Pf *pf = nullptr;
    ASSERT_EQ(pfread(dir.file("g.dem").c_str(), &pf), 0);
    double lat = 0;
    int nlat = 0, big = 0, bad = 0, huge = 0;
    EXPECT_EQ(parse_param(pf, "lat", PF_DOUBLE, 1, &lat), 0);
    EXPECT_DOUBLE_EQ(lat, 89.5);
    EXPECT_EQ(parse_param(pf, "nlat", PF_INT, 1, &nlat), 0);
    EXPECT_EQ(nlat, 20);
    EXPECT_EQ(parse_param(pf, "bigendian", PF_YESNO, 0, &big), 0);
    EXPECT_EQ(big, 1);
    EXPECT_STREQ(pfget_string(pf, "name"), "two words");
    elog_clear_register(0);
    EXPECT_LT(parse_param(pf, "bad", PF_INT, 1, &bad), 0);
    EXPECT_LT(parse_param(pf, "bad", PF_DOUBLE, 0, &lat), 0);
    EXPECT_LT(parse_param(pf, "huge", PF_INT, 1, &huge), 0);
    // Each unusable value is registered with the file, the key and the value.
    std::string where = "parameter file " + dir.file("g.dem.pf") + ": key ";
    ASSERT_EQ(elog_count(), 3);
    EXPECT_EQ(std::string(elog_message(0)),
              where + "bad: cannot use value '12abc' (not a whole number within the range of an int)\n");
    EXPECT_EQ(std::string(elog_message(1)), where + "bad: cannot use value '12abc' (not a number)\n");
    EXPECT_EQ(std::string(elog_message(2)),
              where + "huge: cannot use value '99999999999' (not a whole number within the range of an int)\n");
    EXPECT_EQ(pf_refuse(pf, "nlat", "too many rows"), -1);
    EXPECT_EQ(std::string(elog_message(3)), where + "nlat: cannot use value '20' (too many rows)\n");
    elog_clear_register(0);
    double preset = 7;
    EXPECT_EQ(parse_param(pf, "dlat", PF_DOUBLE, 0, &preset), 0);
    EXPECT_EQ(preset, 7);
    EXPECT_LT(parse_param(pf, "dlat", PF_DOUBLE, 1, &preset), 0);
    pffree(pf);
}

TEST(ParameterFile, YesNoWordsInAnyCase)
{
    TempDir dir;
    const char *yes[] = {"yes", "Y", "TRUE", "on", "1"};
    const char *no[] = {"NO", "n", "false", "Off", "0"};
    for (int i = 0; i < 5; i++) {
        writeText(dir.file("f.pf"), std::string("a ") + yes[i] + "\nb " + no[i] + "\nc maybe\n");
        Pf *pf = nullptr;
        ASSERT_EQ(pfread(dir.file("f").c_str(), &pf), 0);
        int a = 5, b = 5, c = 5;
        EXPECT_EQ(parse_param(pf, "a", PF_YESNO, 1, &a), 0);
        EXPECT_EQ(parse_param(pf, "b", PF_YESNO, 1, &b), 0);
        EXPECT_LT(parse_param(pf, "c", PF_YESNO, 0, &c), 0);
        EXPECT_EQ(a, 1);
        EXPECT_EQ(b, 0);
        pffree(pf);
    }
    elog_clear_register(0);
}

TEST(ParameterFile, MissingFileIsAFailure)
{
    Pf *pf = nullptr;
    EXPECT_LT(pfread("/nonexistent/grid.dem", &pf), 0);
    EXPECT_EQ(pf, nullptr);
}

TEST(Containers, ListsAndArrays)
{
    Tbl *t = newtbl(1);
    int a = 1, b = 2, c = 3;
    EXPECT_EQ(settbl(t, -1, &a), 0);
    EXPECT_EQ(settbl(t, -1, &b), 1);
    EXPECT_EQ(settbl(t, -1, &c), 2);
    EXPECT_EQ(t->nentries, 3);
    EXPECT_EQ(maxtbl(t), 3);
    EXPECT_EQ(gettbl(t, 1), &b);
    EXPECT_EQ(gettbl(t, 3), nullptr);
    EXPECT_EQ(settbl(t, 5, &a), -1);
    freetbl(t, nullptr);

    Arr *arr = newarr(nullptr);
    EXPECT_EQ(getarr(arr, "3"), nullptr);
    EXPECT_EQ(setarr(arr, "3", &a), nullptr);
    EXPECT_EQ(setarr(arr, "10", &b), nullptr);
    EXPECT_EQ(setarr(arr, "3", &c), &a);
    EXPECT_EQ(getarr(arr, "3"), &c);
    EXPECT_EQ(cntarr(arr), 2);
    Tbl *keys = keysarr(arr);
    ASSERT_EQ(maxtbl(keys), 2);
    EXPECT_STREQ(static_cast<char *>(gettbl(keys, 0)), "10");
    freetbl(keys, nullptr);
    freearr(arr, nullptr);
}

TEST(ByteOrder, ConvertsUnalignedBigEndianValues)
{
    unsigned char buf[7] = {0, 0xFF, 0xFF, 0xFF, 0xFE, 0x12, 0x34};
    int32_t v4 = 0;
    int16_t v2 = 0;
    N2H4(reinterpret_cast<unsigned char *>(&v4), buf + 1, 1);
    N2H2(reinterpret_cast<unsigned char *>(&v2), buf + 5, 1);
    EXPECT_EQ(v4, -2);
    EXPECT_EQ(v2, 0x1234);
    unsigned char back[4];
    H2N4(back, reinterpret_cast<unsigned char *>(&v4), 1);
    EXPECT_EQ(memcmp(back, buf + 1, 4), 0);
}

TEST(Distance, AccurateForTinyAndNearAntipodalSeparations)
{
    const double d2r = M_PI / 180;
    double delta = 0, az = 0;
    dist(0, 0, 0, 90 * d2r, &delta, &az);
    EXPECT_NEAR(delta, M_PI / 2, 1e-15);
    EXPECT_NEAR(az, M_PI / 2, 1e-15);
    // One microdegree: the cosine formula would give 0 or noise here.
    dist(45 * d2r, 10 * d2r, 45 * d2r, (10 + 1e-6) * d2r, &delta, &az);
    EXPECT_NEAR(delta / d2r, 1e-6 * cos(45 * d2r), 1e-15);
    // Nearly antipodal: a microdegree short of half a turn.
    dist(0, 0, 0, (180 - 1e-6) * d2r, &delta, &az);
    EXPECT_NEAR(delta / d2r, 180 - 1e-6, 1e-9);
    dist(10 * d2r, 20 * d2r, 10 * d2r, 20 * d2r, &delta, &az);
    EXPECT_EQ(delta, 0);
}

TEST(Mappings, MapAndReleaseByPath)
{
    TempDir dir;
    writeText(dir.file("m"), "mapped bytes");
    void *addr = nullptr;
    long size = 0;
    ASSERT_EQ(mapfile(dir.file("m").c_str(), &addr, &size), 0);
    EXPECT_EQ(size, 12);
    EXPECT_EQ(memcmp(addr, "mapped bytes", 12), 0);
    EXPECT_EQ(unmapfile(dir.file("m").c_str(), nullptr), 0);
    EXPECT_EQ(unmapfile(dir.file("m").c_str(), nullptr), -1);
    clearRegister();
    EXPECT_EQ(mapfile(dir.file("absent").c_str(), &addr, &size), -1);
    EXPECT_EQ(elog_count(), 1);
    clearRegister();
}

}  // namespace

// Files the orvex command creates: the temporary name, the move into place
// with and without replacing, and what a failure or a signal leaves.

#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "atomic_output.h"
#include "test_common.h"

using orvexcli::AtomicOutput;
using orvex_test::readFile;
using orvex_test::TempDir;
using orvex_test::writeText;

namespace {

std::vector<std::string> entries(const TempDir &dir)
{
    std::vector<std::string> names;
    DIR *d = opendir(dir.path().c_str());
    while (struct dirent *e = d ? readdir(d) : nullptr)
        if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") names.push_back(e->d_name);
    if (d) closedir(d);
    return names;
}

std::string text_of(const std::string &path)
{
    std::vector<unsigned char> b = readFile(path);
    return std::string(b.begin(), b.end());
}

TEST(AtomicOutput, WritesBesideTheOutputUnderARecognisableName)
{
    TempDir dir;
    AtomicOutput out(dir.file("map.orx"));
    ASSERT_TRUE(out.ready());
    EXPECT_EQ(out.temp_path(), dir.file(".map.orx.tmp-" + std::to_string(getpid())));
    AtomicOutput here("map.orx");
    EXPECT_EQ(here.temp_path(), ".map.orx.tmp-" + std::to_string(getpid()));
}

TEST(AtomicOutput, CommitMovesTheFinishedFileIntoPlace)
{
    TempDir dir;
    std::string why;
    {
        AtomicOutput out(dir.file("a.orx"));
        writeText(out.temp_path(), "whole");
        ASSERT_EQ(out.commit(false, &why), 0) << why;
    }
    EXPECT_EQ(text_of(dir.file("a.orx")), "whole");
    EXPECT_EQ(entries(dir), std::vector<std::string>{"a.orx"});
}

TEST(AtomicOutput, AnExistingFileIsReplacedOnlyWhenAsked)
{
    TempDir dir;
    std::string path = dir.file("a.orx"), why;
    writeText(path, "old");
    {
        // Appeared after the caller's own check: left alone, new one gone.
        AtomicOutput out(path);
        writeText(out.temp_path(), "new");
        EXPECT_EQ(out.commit(false, &why), -1);
        EXPECT_EQ(why, "'" + path + "' appeared meanwhile; it was left as it is");
    }
    EXPECT_EQ(text_of(path), "old");
    EXPECT_EQ(entries(dir), std::vector<std::string>{"a.orx"});
    {
        AtomicOutput out(path);
        writeText(out.temp_path(), "new");
        ASSERT_EQ(out.commit(true, &why), 0) << why;
    }
    EXPECT_EQ(text_of(path), "new");
}

TEST(AtomicOutput, FailuresLeaveNothingBehind)
{
    TempDir dir;
    std::string why;
    {
        // The writer gave up before creating anything.
        AtomicOutput out(dir.file("a.orx"));
        EXPECT_EQ(out.commit(true, &why), -1);
        EXPECT_NE(why.find("cannot flush '" + out.temp_path() + "': No such file or directory"),
                  std::string::npos)
            << why;
    }
    {
        // A folder stands at the output's name.
        mkdir(dir.file("b.orx").c_str(), 0755);
        AtomicOutput out(dir.file("b.orx"), "-journal");
        writeText(out.temp_path(), "x");
        writeText(out.temp_path() + "-journal", "j");
        EXPECT_EQ(out.commit(true, &why), -1);
        EXPECT_NE(why.find("cannot move the finished file to '" + dir.file("b.orx") + "'"), std::string::npos)
            << why;
    }
    {
        // Abandoned: the destructor removes the file and its companion.
        AtomicOutput out(dir.file("c.orx"), "-journal");
        writeText(out.temp_path(), "half");
        writeText(out.temp_path() + "-journal", "j");
    }
    EXPECT_EQ(entries(dir), std::vector<std::string>{"b.orx"});
}

TEST(OutputGroup, SideFilesAppearWithTheirMainFileOrNotAtAll)
{
    TempDir dir;
    std::string why;
    {
        orvexcli::OutputGroup group(dir.file("x.png"));
        orvexcli::AtomicOutput *world = group.add_side(dir.file("x.pgw"));
        ASSERT_NE(world, nullptr);
        writeText(group.main().temp_path(), "picture");
        writeText(world->temp_path(), "world");
        ASSERT_EQ(group.commit(false, &why), 0) << why;
    }
    EXPECT_EQ(text_of(dir.file("x.png")), "picture");
    EXPECT_EQ(text_of(dir.file("x.pgw")), "world");
    {
        // The main file cannot follow (a folder stands at its name): the
        // side file already moved goes again.
        mkdir(dir.file("y.png").c_str(), 0755);
        orvexcli::OutputGroup group(dir.file("y.png"));
        orvexcli::AtomicOutput *world = group.add_side(dir.file("y.pgw"));
        writeText(group.main().temp_path(), "picture");
        writeText(world->temp_path(), "world");
        EXPECT_EQ(group.commit(true, &why), -1);
        EXPECT_NE(why.find("cannot move the finished file to '" + dir.file("y.png") + "'"), std::string::npos) << why;
    }
    {
        // A side file that exists is kept unless replacing was asked for,
        // and the main file does not appear without it.
        writeText(dir.file("z.pgw"), "older");
        orvexcli::OutputGroup group(dir.file("z.png"));
        orvexcli::AtomicOutput *world = group.add_side(dir.file("z.pgw"));
        writeText(group.main().temp_path(), "picture");
        writeText(world->temp_path(), "world");
        EXPECT_EQ(group.commit(false, &why), -1);
        EXPECT_EQ(text_of(dir.file("z.pgw")), "older");
    }
    std::vector<std::string> left = entries(dir);
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"x.pgw", "x.png", "y.png", "z.pgw"}));
}

// Commits one file, leaves two pending (one with a companion) and sends
// itself the signal; returns only when the signal did not end the process.
void commit_one_then_signal(const TempDir &dir, int signo)
{
    AtomicOutput done(dir.file("done.orx"));
    writeText(done.temp_path(), "whole");
    std::string why;
    if (done.commit(false, &why) != 0) _exit(3);
    AtomicOutput a(dir.file("a.orx"));
    AtomicOutput b(dir.file("b.db"), "-journal");
    writeText(a.temp_path(), "half");
    writeText(b.temp_path(), "half");
    writeText(b.temp_path() + "-journal", "j");
    raise(signo);
    _exit(0);
}

// A signal removes every pending temporary file and ends the process with
// that signal; committed files stay.
TEST(AtomicOutputDeathTest, SignalsRemovePendingFiles)
{
    TempDir dir;
    for (int signo : {SIGINT, SIGTERM, SIGHUP}) {
        EXPECT_EXIT(commit_one_then_signal(dir, signo), testing::KilledBySignal(signo), "");
        EXPECT_EQ(entries(dir), std::vector<std::string>{"done.orx"});
        unlink(dir.file("done.orx").c_str());
    }
}

}  // namespace

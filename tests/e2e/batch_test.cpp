// The program as a user runs it: console bytes, exit status, files.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "e2e/harness.h"
#include "support/fda_builder.h"

using e2e::banner;
using e2e::lines;
using e2e::RunResult;
using e2e::Stdout;
using e2e::TempDir;

namespace {

// The summary of fixture::Info's defaults: 2 channels of 512-bit blocks at
// 44100 Hz.
const std::string default_summary = "(88.2kbps, 44.1kHz, 2ch)...";

std::string converted(const std::string& prefix) { return prefix + default_summary + "done"; }

std::string valid_fda(std::size_t payload_size = 64)
{
    return fixture::fda_bytes(fixture::rich_fields(payload_size));
}

TEST(Batch, NoArgumentShowsUsage)
{
    TempDir dir;
    const std::string usage = "Usage: fernwick.exe [filename.fda or filemask]\r\n";
    for (const auto& args : {std::vector<std::string>{}, std::vector<std::string>{""}}) {
        const RunResult r = e2e::run_fernwick(dir.path(), args);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.output, banner() + usage);
    }
}

TEST(Batch, NothingToConvertCountsZero)
{
    TempDir dir;
    dir.mkdir("sub");
    dir.write("music.fda", valid_fda());
    std::vector<std::string> masks = {"*.xyz", "sub", "missing.fda", "nodir/*", "music.fd"};
    if (!e2e::windows_target())
        masks.push_back("Music.fda"); // case-sensitive, as the file system is
    for (const std::string& mask : masks) {
        SCOPED_TRACE(mask);
        const RunResult r = e2e::run_fernwick(dir.path(), {mask});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.output, banner() + lines({"Find 0 files"}));
    }
}

// A lone '*' takes every file of any kind, hidden ones too, and no directory;
// each gets exactly one line, and the run goes on past every failure.
TEST(Batch, StarOverAMixedDirectory)
{
    TempDir dir;
    dir.write("a.fda", valid_fda());
    dir.write("b.fda", "Relic Chunky");                 // ends inside the file header
    dir.write("c.txt", "just some text, long enough to be read whole");
    dir.write(".hidden.fda", valid_fda(3));
    dir.write("empty", "");
    fixture::FdaFields no_info = fixture::rich_fields(8);
    no_info.ids[2] = "DATA";
    dir.write("d.fda", fixture::fda_bytes(no_info));
    dir.mkdir("sub.fda");
    const RunResult r = e2e::run_fernwick(dir.path(), {"*"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.output, banner() + lines({
                                       "Find 6 files",
                                       converted("[1/6] .hidden.fda "),
                                       converted("[2/6] a.fda "),
                                       "[3/6] b.fda File truncated.",
                                       "[4/6] c.txt File not Relic Chunky.",
                                       "[5/6] d.fda Not found INFO chunk.",
                                       "[6/6] empty File not Relic Chunky.",
                                   }));
}

// A FIFO in the list is refused at once instead of blocking the run.
TEST(Batch, FifoIsNotOpened)
{
    if (e2e::windows_target())
        GTEST_SKIP() << "no FIFOs on Windows";
    TempDir dir;
    ASSERT_EQ(mkfifo((dir / "fifo.fda").c_str(), 0644), 0);
    dir.write("z.fda", valid_fda());
    const RunResult r = e2e::run_fernwick(dir.path(), {"*"});
    EXPECT_EQ(r.output, banner() + lines({"Find 2 files", "[1/2] fifo.fda Error open file.", converted("[2/2] z.fda ")}));
}

// On Windows the system matches without regard to case, and the prefix
// shows each name as stored.
TEST(Batch, WindowsMatchesWithoutCase)
{
    if (!e2e::windows_target())
        GTEST_SKIP() << "matching follows the POSIX file system here";
    TempDir dir;
    dir.write("music.fda", valid_fda());
    dir.write("Other.Fda", "not chunky at all, whatever it holds");
    for (const char* mask : {"*.FDA", "*.fda", "*.Fda"}) {
        SCOPED_TRACE(mask);
        EXPECT_EQ(e2e::run_fernwick(dir.path(), {mask}).output,
                  banner() + lines({"Find 2 files", converted("[1/2] music.fda "),
                                    "[2/2] Other.Fda File not Relic Chunky."}));
    }
    EXPECT_EQ(e2e::run_fernwick(dir.path(), {"MUSIC.FDA"}).output,
              banner() + lines({"Find 1 files", converted("[1/1] music.fda ")}));
}

TEST(Batch, WildcardsMatchByteByByte)
{
    if (e2e::windows_target())
        GTEST_SKIP() << "on Windows the system's own matching applies";
    TempDir dir;
    for (const char* name : {"a.fda", "ab.fda", "abc.fda", "[x].fda", "A.FDA", "x.fda.bak"})
        dir.write(name, "not chunky at all, whatever it holds");
    const struct {
        const char* mask;
        std::vector<std::string> names;
    } cases[] = {
        {"?.fda", {"a.fda"}},
        {"a*.fda", {"a.fda", "ab.fda", "abc.fda"}},
        {"*.fda", {"[x].fda", "a.fda", "ab.fda", "abc.fda"}},
        {"[x].fda", {"[x].fda"}},
        {"*.FDA", {"A.FDA"}},
        {"*.fda*", {"[x].fda", "a.fda", "ab.fda", "abc.fda", "x.fda.bak"}},
        {"a??.fda", {"abc.fda"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mask);
        std::vector<std::string> expected = {"Find " + std::to_string(c.names.size()) + " files"};
        for (std::size_t i = 0; i < c.names.size(); ++i)
            expected.push_back("[" + std::to_string(i + 1) + "/" + std::to_string(c.names.size()) + "] " +
                               c.names[i] + " File not Relic Chunky.");
        EXPECT_EQ(e2e::run_fernwick(dir.path(), {c.mask}).output, banner() + lines(expected));
    }
}

// The list comes from the mask's directory; each name is opened here.
TEST(Batch, MaskWithADirectoryPart)
{
    TempDir dir;
    dir.mkdir("sub");
    dir.write("sub/here.fda", "anything");
    dir.write("here.fda", valid_fda());
    dir.write("sub/gone.fda", valid_fda());
    dir.write("sub/bad.fda", valid_fda());
    dir.write("bad.fda", "not chunky at all, whatever it holds");

    const RunResult r = e2e::run_fernwick(dir.path(), {"sub/*.fda"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.output, banner() + lines({
                                       "Find 3 files",
                                       "[1/3] bad.fda File not Relic Chunky.",
                                       "[2/3] gone.fda Error open file.",
                                       converted("[3/3] here.fda "),
                                   }));
}

TEST(Batch, SecondArgumentIsIgnored)
{
    TempDir dir;
    dir.write("a.fda", valid_fda());
    dir.write("b.fda", valid_fda());
    const RunResult r = e2e::run_fernwick(dir.path(), {"a.fda", "b.fda"});
    EXPECT_EQ(r.output, banner() + lines({"Find 1 files", converted("[1/1] a.fda ")}));
}

TEST(Batch, NamesWithBackslashOrColonShowWhole)
{
    if (e2e::windows_target())
        GTEST_SKIP() << "Windows names hold neither";
    TempDir dir;
    dir.write("x\\y:z.fda", "short");
    const RunResult r = e2e::run_fernwick(dir.path(), {"*"});
    EXPECT_EQ(r.output, banner() + lines({"Find 1 files", "[1/1] x\\y:z.fda File not Relic Chunky."}));
}

// A file or a pipe receives the bytes a console would show, CR LF included,
// however the text is cut into writes.
TEST(Batch, RedirectedOutputHoldsTheSameBytes)
{
    TempDir dir;
    for (int i = 0; i < 30; ++i)
        dir.write("file" + std::to_string(100 + i) + ".fda", i % 2 ? valid_fda() : "not chunky");
    const RunResult to_pipe = e2e::run_fernwick(dir.path(), {"*.fda"}, Stdout::pipe);
    const RunResult to_file = e2e::run_fernwick(dir.path(), {"*.fda"}, Stdout::file);
    EXPECT_EQ(to_pipe.status, 0);
    EXPECT_EQ(to_file.status, 0);
    EXPECT_GT(to_file.output.size(), 1000u);
    EXPECT_EQ(to_file.output, to_pipe.output);
    EXPECT_EQ(to_file.output.find("\n"), to_file.output.find("\r\n") + 1);
}

// Without standard output, or with nobody reading it, the run still goes
// through every file and ends normally.
TEST(Batch, LostStandardOutputDoesNotStopTheRun)
{
    TempDir dir;
    for (int i = 0; i < 40; ++i)
        dir.write("f" + std::to_string(i) + ".fda", valid_fda());
    for (const Stdout mode : {Stdout::closed, Stdout::closed_pipe}) {
        const RunResult r = e2e::run_fernwick(dir.path(), {"*.fda"}, mode);
        EXPECT_EQ(r.signal, 0);
        EXPECT_EQ(r.status, 0);
    }
    EXPECT_EQ(e2e::run_fernwick(dir.path(), {}, Stdout::closed).status, 0);
}

TEST(Batch, EveryFileFailingStillEndsWithZero)
{
    TempDir dir;
    dir.write("x.fda", "");
    dir.write("y.fda", "Relic Chunky but nothing else follows");
    const RunResult r = e2e::run_fernwick(dir.path(), {"*.fda"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.output, banner() + lines({"Find 2 files", "[1/2] x.fda File not Relic Chunky.",
                                          "[2/2] y.fda File truncated."}));
}

} // namespace

namespace {

// Memory exhaustion while the list is built: the text so far, the report
// right behind it, status 1, and no file touched.
TEST(Batch, OutOfMemoryEndsTheRunWithAReport)
{
    if (const char* why = e2e::native_measurements_unavailable())
        GTEST_SKIP() << why;
    TempDir dir;
    for (int i = 0; i < 300; ++i)
        dir.write("f" + std::to_string(i) + ".fda", "x");
    const std::vector<std::string> env = {std::string("LD_PRELOAD=") + FAIL_NEW_LIBRARY,
                                          "FAIL_NEW_ABOVE=4096"};
    for (const Stdout mode : {Stdout::pipe, Stdout::file}) {
        const RunResult r = e2e::run_fernwick(dir.path(), {"*.fda"}, mode, env);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.output, banner() + "Exception std::bad_alloc in module fernwick at 00000000.\r\n"
                                       "Out of memory.\r\n\r\n");
    }
}

} // namespace

// Whole conversions: the files the program makes, refuses and leaves alone.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>

#include "e2e/harness.h"
#include "support/aifc_expected.h"
#include "support/fda_builder.h"

using e2e::banner;
using e2e::lines;
using e2e::RunResult;
using e2e::Stdout;
using e2e::TempDir;

namespace {

// The summary of fixture::Info's defaults: 2 channels of 512-bit blocks at
// 44100 Hz.
const std::string stereo_summary = "(88.2kbps, 44.1kHz, 2ch)...";

std::string expected_output(const fixture::FdaFields& f) { return expected_aifc_bytes(f); }

// Valid files of several shapes, each with its expected console line.
struct ValidFile {
    std::string name;
    fixture::FdaFields fields;
    std::string summary;
};

std::vector<ValidFile> valid_files()
{
    std::vector<ValidFile> files;

    fixture::FdaFields even = fixture::rich_fields(256);
    files.push_back({"even.fda", even, stereo_summary});

    fixture::FdaFields odd = fixture::rich_fields(255);
    odd.info = fixture::Info{1, 16, 256, 22050, 5, 9, 1};
    files.push_back({"odd.FDA", odd, "(22.1kbps, 22.1kHz, 1ch)..."});

    fixture::FdaFields empty;
    empty.info = fixture::Info{2, 16, 1024, 48000, 0, 0, 0};
    files.push_back({"empty.fda", empty, "(176.4kbps, 48.0kHz, 2ch)..."});

    fixture::FdaFields large = fixture::rich_fields(3 * 1024 * 1024 + 17); // several copy blocks
    large.info = fixture::Info{65538, 65552, 515, 8000, 1, 2, 3};
    files.push_back({"large.fda", large, "(2907160.7kbps, 8.0kHz, 65538ch)..."});

    fixture::FdaFields plain;
    plain.payload = fixture::pattern_bytes(1000, 9);
    files.push_back({"no_ext", plain, stereo_summary});
    return files;
}

TEST(Convert, EveryOutputIsExactAndFailuresLeaveNothing)
{
    TempDir dir;
    for (const ValidFile& v : valid_files())
        dir.write(v.name, fixture::fda_bytes(v.fields));
    dir.write("cut.fda", fixture::fda_bytes([] {
                  fixture::FdaFields f = fixture::rich_fields(100);
                  f.cut = fixture::payload_offset(f) + 99;
                  return f;
              }()));
    dir.write("zero.fda", fixture::fda_bytes([] {
                  fixture::FdaFields f = fixture::rich_fields(10);
                  f.info.block_bits = 7; // no whole byte per block
                  return f;
              }()));
    dir.write("text.txt", "plain text, not a chunky file");

    const RunResult r = e2e::run_fernwick(dir.path(), {"*"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.output, banner() + lines({
                                       "Find 8 files",
                                       "[1/8] cut.fda File truncated.",
                                       "[2/8] empty.fda (176.4kbps, 48.0kHz, 2ch)...done",
                                       "[3/8] even.fda " + stereo_summary + "done",
                                       "[4/8] large.fda (2907160.7kbps, 8.0kHz, 65538ch)...done",
                                       "[5/8] no_ext " + stereo_summary + "done",
                                       "[6/8] odd.FDA (22.1kbps, 22.1kHz, 1ch)...done",
                                       "[7/8] text.txt File not Relic Chunky.",
                                       "[8/8] zero.fda (1.2kbps, 44.1kHz, 2ch)...Invalid stream format.",
                                   }));

    for (const ValidFile& v : valid_files()) {
        const std::string out = v.name.substr(0, v.name.find('.')) + ".aifc";
        SCOPED_TRACE(out);
        EXPECT_TRUE(dir.read(out) == expected_output(v.fields));
    }
    EXPECT_EQ(dir.names(), (std::vector<std::string>{"cut.fda", "empty.aifc", "empty.fda", "even.aifc", "even.fda",
                                                     "large.aifc", "large.fda", "no_ext", "no_ext.aifc", "odd.FDA",
                                                     "odd.aifc", "text.txt", "zero.fda"}));

    // A second run sees the outputs, refuses them as inputs, and replaces
    // every output with the same bytes.
    const std::string before = dir.read("even.aifc");
    ASSERT_EQ(chmod((dir / "even.aifc").c_str(), 0644), 0);
    dir.write("even.aifc", "stale bytes of an earlier run");
    const RunResult again = e2e::run_fernwick(dir.path(), {"*.fda"});
    EXPECT_NE(again.output.find("] even.fda " + stereo_summary + "done\r\n"), std::string::npos);
    EXPECT_EQ(dir.read("even.aifc"), before);
}

// An output name that leads back to the open input must not destroy it.
TEST(Convert, TheInputIsNeverItsOwnOutput)
{
    TempDir dir;
    const std::string bytes = fixture::fda_bytes(fixture::rich_fields(64));
    dir.write("music.aifc", bytes);     // converts to itself
    dir.write("linked.fda", bytes);
    ASSERT_EQ(link((dir / "linked.fda").c_str(), (dir / "linked.aifc").c_str()), 0);
    dir.write("sym.fda", bytes);
    ASSERT_EQ(symlink("sym.fda", (dir / "sym.aifc").c_str()), 0);

    const RunResult r = e2e::run_fernwick(dir.path(), {"*"});
    EXPECT_EQ(r.status, 0);
    const std::string refused = stereo_summary + "Error create file.";
    EXPECT_EQ(r.output, banner() + lines({
                                       "Find 5 files",
                                       "[1/5] linked.aifc " + refused,
                                       "[2/5] linked.fda " + refused,
                                       "[3/5] music.aifc " + refused,
                                       "[4/5] sym.aifc " + refused,
                                       "[5/5] sym.fda " + refused,
                                   }));
    for (const char* name : {"music.aifc", "linked.fda", "sym.fda"})
        EXPECT_TRUE(dir.read(name) == bytes) << name;
}

// An output that cannot be replaced is refused, the same for root as for a
// user; the rest of the batch goes on.
TEST(Convert, ReadOnlyOutputIsKept)
{
    if (e2e::wine_as_root())
        GTEST_SKIP() << "Wine run by root may write a read-only file";
    TempDir dir;
    const std::string bytes = fixture::fda_bytes(fixture::rich_fields(64));
    dir.write("a.fda", bytes);
    dir.write("a.aifc", "keep me");
    ASSERT_EQ(chmod((dir / "a.aifc").c_str(), 0444), 0);
    dir.write("c.fda", bytes);

    const RunResult r = e2e::run_fernwick(dir.path(), {"*.fda"});
    EXPECT_EQ(r.output, banner() + lines({
                                       "Find 2 files",
                                       "[1/2] a.fda " + stereo_summary + "Error create file.",
                                       "[2/2] c.fda " + stereo_summary + "done",
                                   }));
    EXPECT_EQ(dir.read("a.aifc"), "keep me");
}

TEST(Convert, DirectoryInTheOutputsPlace)
{
    TempDir dir;
    dir.write("b.fda", fixture::fda_bytes(fixture::rich_fields(64)));
    dir.mkdir("b.aifc");
    const RunResult r = e2e::run_fernwick(dir.path(), {"*.fda"});
    EXPECT_EQ(r.output, banner() + lines({"Find 1 files", "[1/1] b.fda " + stereo_summary + "Error create file."}));
}

// A write that fails (here: the file size limit, as on a full disk) is
// reported, its incomplete output removed, and the batch goes on; whether
// the payload went through the copy buffer or was written from the input
// in place.
TEST(Convert, FailedWriteRemovesTheOutput)
{
    const struct {
        std::size_t payload;
        long long size_limit;
    } cases[] = {
        {200000, 100000},
        {5u << 20, 3 << 20},  // fails inside the second 2 MiB window
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.payload);
        TempDir dir;
        dir.write("big.fda", fixture::fda_bytes(fixture::rich_fields(c.payload)));
        dir.write("small.fda", fixture::fda_bytes(fixture::rich_fields(1000)));

        const RunResult r = e2e::run_fernwick(dir.path(), {"*.fda"}, Stdout::pipe, {}, c.size_limit);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.output, banner() + lines({
                                           "Find 2 files",
                                           "[1/2] big.fda " + stereo_summary + "Error write file.",
                                           "[2/2] small.fda " + stereo_summary + "done",
                                       }));
        EXPECT_FALSE(dir.exists("big.aifc"));
        EXPECT_TRUE(dir.exists("small.aifc"));
    }
}

// A payload that would not fit AIFF-C's 32-bit sizes is refused before any
// file is made (a sparse input stands in for 4 GiB of real bytes).
TEST(Convert, PayloadTooLargeForTheFormat)
{
    TempDir dir;
    fixture::FdaFields f;
    f.payload_length = 0xFFFFFFFFu;
    const std::string head = fixture::fda_bytes(f);
    dir.write("huge.fda", head);
    ASSERT_EQ(truncate((dir / "huge.fda").c_str(), static_cast<off_t>(head.size()) + 0xFFFFFFFFll), 0);

    const RunResult r = e2e::run_fernwick(dir.path(), {"huge.fda"});
    EXPECT_EQ(r.output, banner() + lines({"Find 1 files", "[1/1] huge.fda " + stereo_summary + "File too large."}));
    EXPECT_FALSE(dir.exists("huge.aifc"));
}

// The payload streams through a fixed buffer: converting 64 MiB takes a
// small fraction of that in memory, and no more than converting 1 KiB.
TEST(Convert, MemoryStaysSmallForALargePayload)
{
    TempDir dir;
    fixture::FdaFields small;
    small.payload = fixture::pattern_bytes(1024, 3);
    dir.write("small.fda", fixture::fda_bytes(small));
    fixture::FdaFields f;
    f.payload = fixture::pattern_bytes(64u << 20, 4);
    dir.write("big.fda", fixture::fda_bytes(f));
    // The program starts as a fork of this process: let it not inherit the
    // payload in its peak memory.
    std::string().swap(f.payload);

    const RunResult base = e2e::run_fernwick(dir.path(), {"small.fda"});
    const RunResult r = e2e::run_fernwick(dir.path(), {"big.fda"});
    f.payload = fixture::pattern_bytes(64u << 20, 4);
    EXPECT_EQ(r.output, banner() + lines({"Find 1 files", "[1/1] big.fda " + stereo_summary + "done"}));
    EXPECT_TRUE(dir.read("big.aifc") == expected_output(f));

    // Measured as growth it holds behind a runner and under sanitizers too,
    // whose own memory is the same for both runs.
    EXPECT_LT(r.max_rss_kb - base.max_rss_kb, 8 * 1024) << "growth of peak resident memory in KiB";
    if (e2e::native_measurements_unavailable() == nullptr) {
        EXPECT_LT(r.max_rss_kb, 16 * 1024) << "peak resident memory in KiB";
    }
}

// With memory exhausted during a file, the run stops with the report right
// after that file's summary; later files are left untouched.
TEST(Convert, OutOfMemoryDuringAFile)
{
    if (const char* why = e2e::native_measurements_unavailable())
        GTEST_SKIP() << why;
    TempDir dir;
    dir.write("a.fda", fixture::fda_bytes(fixture::rich_fields(10)));
    dir.write("b.fda", fixture::fda_bytes(fixture::rich_fields(10)));
    const std::vector<std::string> env = {std::string("LD_PRELOAD=") + FAIL_NEW_LIBRARY, "FAIL_NEW_ABOVE=100000"};
    const RunResult r = e2e::run_fernwick(dir.path(), {"*.fda"}, Stdout::file, env);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.output, banner() + "Find 2 files\r\n[1/2] a.fda " + stereo_summary +
                            "Exception std::bad_alloc in module fernwick at 00000000.\r\nOut of memory.\r\n\r\n");
    EXPECT_FALSE(dir.exists("b.aifc"));
}

// A closed console costs the text, not the work.
TEST(Convert, LostStandardOutputStillConvertsEveryFile)
{
    TempDir dir;
    for (int i = 0; i < 40; ++i)
        dir.write("f" + std::to_string(i) + ".fda", fixture::fda_bytes(fixture::rich_fields(100)));
    for (const Stdout mode : {Stdout::closed, Stdout::closed_pipe}) {
        const RunResult r = e2e::run_fernwick(dir.path(), {"*.fda"}, mode);
        EXPECT_EQ(r.signal, 0);
        EXPECT_EQ(r.status, 0);
        for (int i = 0; i < 40; ++i)
            ASSERT_TRUE(dir.exists("f" + std::to_string(i) + ".aifc")) << i;
        for (int i = 0; i < 40; ++i)
            unlink((dir / ("f" + std::to_string(i) + ".aifc")).c_str());
    }
}

} // namespace

namespace {

// The user's decimal separator reaches both figures of the summary.
TEST(Convert, SummaryUsesTheLocalesDecimalSeparator)
{
    locale_t comma = newlocale(LC_NUMERIC_MASK, "de_DE.UTF-8", static_cast<locale_t>(0));
    if (comma == static_cast<locale_t>(0))
        GTEST_SKIP() << "locale de_DE.UTF-8 is not installed";
    freelocale(comma);

    TempDir dir;
    dir.write("a.fda", fixture::fda_bytes(fixture::rich_fields(10)));
    const RunResult r = e2e::run_fernwick(dir.path(), {"a.fda"}, Stdout::pipe, {"LC_ALL=de_DE.UTF-8"});
    EXPECT_EQ(r.output, banner() + lines({"Find 1 files", "[1/1] a.fda (88,2kbps, 44,1kHz, 2ch)...done"}));
}

} // namespace

namespace {

// Names outside any ANSI code page convert like any other: on Windows the
// program runs with UTF-8 as its code page.
TEST(Convert, NamesOutsideTheAnsiCodePage)
{
    TempDir dir;
    fixture::FdaFields f = fixture::rich_fields(77);
    const std::string names[] = {"caf\xC3\xA9.fda", "\xE9\x9F\xB3\xE6\xA5\xBD.fda"};
    for (const std::string& name : names)
        dir.write(name, fixture::fda_bytes(f));

    // Wine maps file names through the locale's character set.
    const RunResult r = e2e::run_fernwick(dir.path(), {"*.fda"}, Stdout::pipe, {"LC_ALL=C.UTF-8"});
    EXPECT_EQ(r.output, banner() + lines({"Find 2 files", "[1/2] " + names[0] + " " + stereo_summary + "done",
                                          "[2/2] " + names[1] + " " + stereo_summary + "done"}));
    EXPECT_TRUE(dir.read("caf\xC3\xA9.aifc") == expected_output(f));
    EXPECT_TRUE(dir.read("\xE9\x9F\xB3\xE6\xA5\xBD.aifc") == expected_output(f));
}

} // namespace

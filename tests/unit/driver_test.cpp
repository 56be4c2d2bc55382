#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fernwick.h"

namespace {

const char* next_byte(const char* p) { return *p ? p + 1 : p; }

// A double-byte code page in miniature: 0x81 leads, the next byte trails.
const char* next_dbcs(const char* p)
{
    if (*p == '\0')
        return p;
    if (static_cast<unsigned char>(*p) == 0x81 && p[1] != '\0')
        return p + 2;
    return p + 1;
}

struct SplitCase {
    const char* what;
    std::string line;
    std::vector<std::string> args; // after the program's name
};

TEST(SplitCommandLine, Table)
{
    const SplitCase cases[] = {
        {"empty line", "", {}},
        {"program name only", "fernwick.exe", {}},
        {"only blanks and tabs", "fernwick.exe  \t \t ", {}},
        {"only pairs of quotes", "fernwick.exe \"\" \"\"\"\"", {}},
        {"lone quote", "fernwick.exe \"", {}},
        {"pair, then a lone quote", "fernwick.exe \"\"\"", {}},
        {"one name", "fernwick.exe music.fda", {"music.fda"}},
        {"two names", "fernwick.exe a.fda b.fda", {"a.fda", "b.fda"}},
        {"control bytes separate", "fernwick.exe\x01" "a\x1f" "b\r\nc", {"a", "b", "c"}},
        {"quoted blank", "fernwick.exe \"my music.fda\"", {"my music.fda"}},
        {"quoted and unquoted joined", "fernwick.exe my\" mus\"ic.fda", {"my music.fda"}},
        {"quoted control bytes", "fernwick.exe \"a\tb\"", {"a\tb"}},
        {"stretch open to the end", "fernwick.exe \"open stretch", {"open stretch"}},
        {"empty quotes inside an argument", "fernwick.exe a\"\"b", {"ab"}},
        {"empty quotes end an argument", "fernwick.exe a\"\" b", {"a", "b"}},
        {"pairs before an argument", "fernwick.exe \"\"\"\"x", {"x"}},
        {"lone quote after an argument", "fernwick.exe a \"", {"a"}},
        {"quoted program name", "\"C:\\Program Files\\fernwick.exe\" *.fda", {"*.fda"}},
        {"backslashes are ordinary", "fernwick.exe C:\\dir\\*.fda", {"C:\\dir\\*.fda"}},
        {"no escape before a quote", "fernwick.exe \\\"a b\\\" c", {"\\a b\\", "c"}},
        {"hyphen and slash are names", "fernwick.exe -h /?", {"-h", "/?"}},
        {"bytes 0x80 and above", "fernwick.exe caf\xe9.fda \xff\x80", {"caf\xe9.fda", "\xff\x80"}},
        {"DEL is ordinary", "fernwick.exe a\x7f" "b", {"a\x7f" "b"}},
    };
    for (const SplitCase& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(split_command_line(c.line.c_str(), next_byte), c.args);
    }
}

// Characters are taken whole: a trail byte that looks like a blank does not
// end the argument.
TEST(SplitCommandLine, StepsByCharacter)
{
    EXPECT_EQ(split_command_line("fernwick.exe \x81 x y", next_dbcs),
              (std::vector<std::string>{"\x81 x", "y"}));
    EXPECT_EQ(split_command_line("fernwick.exe \"\x81\" q\" z", next_dbcs),
              (std::vector<std::string>{"\x81\" q", "z"}));
}

// The console sink under test: records every write it is handed.
std::vector<std::string> g_writes;
bool g_sink_fails = false;

bool record(const void* data, std::size_t size)
{
    g_writes.emplace_back(static_cast<const char*>(data), size);
    return !g_sink_fails;
}

class Console : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_writes.clear();
        g_sink_fails = false;
    }
    static std::string joined()
    {
        std::string all;
        for (const std::string& w : g_writes)
            all += w;
        return all;
    }
};

TEST_F(Console, ConsolePushesEveryLineAndPartialAtOnce)
{
    ConsoleChannel c(platform::StdoutKind::console, record);
    c.partial("[1/2] a.fda ");
    EXPECT_EQ(g_writes, (std::vector<std::string>{"[1/2] a.fda "}));
    c.line("done");
    EXPECT_EQ(g_writes, (std::vector<std::string>{"[1/2] a.fda ", "done\r\n"}));
    c.flush();
    EXPECT_EQ(g_writes.size(), 2u);
}

TEST_F(Console, FilesAndPipesGetBlocksOf128)
{
    ConsoleChannel c(platform::StdoutKind::other, record);
    std::string expected;
    for (int i = 0; i < 20; ++i) {
        const std::string text = "[" + std::to_string(i) + "/20] file" + std::to_string(i) + ".fda ";
        c.partial(text);
        c.line("File not Relic Chunky.");
        expected += text + "File not Relic Chunky.\r\n";
    }
    // Only full buffers have left so far.
    ASSERT_FALSE(g_writes.empty());
    for (const std::string& w : g_writes)
        EXPECT_EQ(w.size(), 128u);
    c.flush();
    EXPECT_EQ(joined(), expected);
    EXPECT_LE(g_writes.back().size(), 128u);
}

TEST_F(Console, LongTextSpansSeveralBuffers)
{
    ConsoleChannel c(platform::StdoutKind::console, record);
    const std::string text(300, 'n');
    c.line(text);
    EXPECT_EQ(g_writes, (std::vector<std::string>{std::string(128, 'n'), std::string(128, 'n'),
                                                  std::string(44, 'n') + "\r\n"}));
}

TEST_F(Console, NoStandardOutputWritesNothing)
{
    ConsoleChannel c(platform::StdoutKind::none, record);
    c.line(std::string(500, 'x'));
    c.partial("y");
    c.flush();
    c.write_direct("report");
    EXPECT_TRUE(g_writes.empty());
}

TEST_F(Console, FailedWriteDropsTheTextAndGoesOn)
{
    ConsoleChannel c(platform::StdoutKind::console, record);
    g_sink_fails = true;
    c.line("lost");
    g_sink_fails = false;
    c.line("kept");
    EXPECT_EQ(g_writes, (std::vector<std::string>{"lost\r\n", "kept\r\n"}));
}

TEST_F(Console, DirectWriteFollowsTheBufferedText)
{
    ConsoleChannel c(platform::StdoutKind::other, record);
    c.partial("[3/9] x.fda ");
    c.flush();
    c.write_direct("Exception");
    EXPECT_EQ(g_writes, (std::vector<std::string>{"[3/9] x.fda ", "Exception"}));
}

TEST(ProgressPrefix, Layout)
{
    EXPECT_EQ(progress_prefix(1, 1, "a.fda"), "[1/1] a.fda ");
    EXPECT_EQ(progress_prefix(12, 345, "My Music.FDA"), "[12/345] My Music.FDA ");
}

std::string failure_report(std::string_view type, std::string_view module, unsigned long address,
                           std::string_view text)
{
    std::string out = "text so far ";
    append_failure_report(out, type, module, address, text);
    return out;
}

TEST(FailureReport, ThreeLinesWithCrLf)
{
    EXPECT_EQ(failure_report("std::bad_alloc", "fernwick.exe", 0x4A2Bu, "Out of memory"),
              "text so far Exception std::bad_alloc in module fernwick.exe at 00004A2B.\r\nOut of memory.\r\n\r\n");
    EXPECT_EQ(failure_report("E", "fernwick", 0xFFFFFFFFu, "Ends in a period."),
              "text so far Exception E in module fernwick at FFFFFFFF.\r\nEnds in a period.\r\n\r\n");
    EXPECT_EQ(failure_report("E", "fernwick", 0, ""),
              "text so far Exception E in module fernwick at 00000000.\r\n\r\n\r\n");
}

} // namespace

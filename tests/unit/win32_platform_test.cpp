// The Win32 backend against the real system (or Wine): listing with masks,
// share modes, large files, standard output kinds, regional settings.
#ifdef _WIN32

#include "platform/platform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/win32/win32_api.h"

namespace {

// A fresh directory under the system's temporary folder. Files are made and
// read back with plain Win32 calls, not through the code under test.
class TempDir {
public:
    TempDir()
    {
        char base[MAX_PATH + 1];
        const DWORD n = GetTempPathA(sizeof base, base);
        if (n == 0 || n > MAX_PATH)
            return;
        for (unsigned attempt = 0; attempt < 1000 && path_.empty(); ++attempt) {
            std::string candidate = std::string(base) + "fernwick-" +
                                    std::to_string(GetCurrentProcessId()) + "-" +
                                    std::to_string(GetTickCount()) + "-" + std::to_string(attempt);
            if (CreateDirectoryA(candidate.c_str(), NULL))
                path_ = candidate;
        }
    }

    ~TempDir()
    {
        if (!path_.empty())
            remove_tree(path_);
    }

    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    bool ok() const { return !path_.empty(); }
    std::string path(const std::string& name) const { return path_ + "\\" + name; }

    void make_file(const std::string& name, const std::string& content = "") const
    {
        const HANDLE h = CreateFileA(path(name).c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, NULL);
        ASSERT_NE(h, INVALID_HANDLE_VALUE) << name;
        DWORD written = 0;
        const BOOL wrote = WriteFile(h, content.data(), static_cast<DWORD>(content.size()),
                                     &written, NULL);
        CloseHandle(h);
        ASSERT_TRUE(wrote);
        ASSERT_EQ(written, content.size());
    }

    void make_dir(const std::string& name) const
    {
        ASSERT_TRUE(CreateDirectoryA(path(name).c_str(), NULL)) << name;
    }

    std::string read_file(const std::string& name) const
    {
        const HANDLE h = CreateFileA(path(name).c_str(), GENERIC_READ,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0,
                                     NULL);
        if (h == INVALID_HANDLE_VALUE)
            return "<missing>";
        std::string content;
        char buffer[4096];
        DWORD n = 0;
        while (ReadFile(h, buffer, sizeof buffer, &n, NULL) && n > 0)
            content.append(buffer, n);
        CloseHandle(h);
        return content;
    }

    bool exists(const std::string& name) const
    {
        return GetFileAttributesA(path(name).c_str()) != INVALID_FILE_ATTRIBUTES;
    }

private:
    static void remove_tree(const std::string& dir)
    {
        WIN32_FIND_DATAA record;
        const HANDLE find = FindFirstFileA((dir + "\\*").c_str(), &record);
        if (find != INVALID_HANDLE_VALUE) {
            do {
                const std::string name = record.cFileName;
                if (name == "." || name == "..")
                    continue;
                const std::string full = dir + "\\" + name;
                if (record.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                    remove_tree(full);
                } else {
                    SetFileAttributesA(full.c_str(), FILE_ATTRIBUTE_NORMAL);
                    DeleteFileA(full.c_str());
                }
            } while (FindNextFileA(find, &record));
            FindClose(find);
        }
        RemoveDirectoryA(dir.c_str());
    }

    std::string path_;
};

std::vector<std::string> sorted(std::vector<std::string> names)
{
    std::sort(names.begin(), names.end());
    return names;
}

struct Closer {
    platform::File& file;
    ~Closer() { platform::close_file(file); }
};

// --- Listing ---------------------------------------------------------------

struct MaskCase {
    const char* mask; // relative to the temporary directory
    std::vector<std::string> expected; // in any order: the system's order is kept
};

class ListFiles : public ::testing::TestWithParam<MaskCase> {};

TEST_P(ListFiles, MatchesBareNamesOfFilesOnly)
{
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    dir.make_file("music.fda");
    dir.make_file("LOUD.FDA");
    dir.make_file("notes.txt");
    dir.make_file("noext");
    dir.make_dir("folder.fda");
    dir.make_file("folder.fda\\inner.fda");

    const MaskCase& c = GetParam();
    EXPECT_EQ(sorted(platform::list_files(dir.path(c.mask))), sorted(c.expected));
}

INSTANTIATE_TEST_SUITE_P(
    Masks, ListFiles,
    ::testing::Values(
        // Every file, no directory, neither "." nor "..".
        MaskCase{"*", {"LOUD.FDA", "music.fda", "notes.txt", "noext"}},
        // The system's matching ignores letter case.
        MaskCase{"*.fda", {"LOUD.FDA", "music.fda"}},
        MaskCase{"*.FDA", {"LOUD.FDA", "music.fda"}},
        // A name given exactly comes back as stored.
        MaskCase{"MUSIC.FDA", {"music.fda"}},
        MaskCase{"?????.fda", {"music.fda"}},
        // A directory named by the mask is passed over.
        MaskCase{"folder.fda", {}},
        // Names found in a subdirectory carry no directory part.
        MaskCase{"folder.fda\\*", {"inner.fda"}},
        MaskCase{"*.wav", {}},
        MaskCase{"missing\\*", {}}));

TEST(ListFilesEmpty, EmptyDirectoryGivesNothing)
{
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    EXPECT_TRUE(platform::list_files(dir.path("*")).empty());
}

// --- Opening and creating ----------------------------------------------------

TEST(OpenInput, FailsForMissingFileAndDirectory)
{
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    dir.make_dir("sub");
    for (const char* name : {"absent.fda", "sub"}) {
        platform::File file;
        EXPECT_FALSE(platform::open_input(dir.path(name), file)) << name;
        EXPECT_FALSE(file.is_open()) << name;
    }
}

TEST(OpenInput, FailsWhileTheFileIsOpenForWriting)
{
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    platform::File writer;
    ASSERT_TRUE(platform::create_output(dir.path("busy.fda"), platform::File{}, writer));
    Closer close_writer{writer};

    platform::File reader;
    EXPECT_FALSE(platform::open_input(dir.path("busy.fda"), reader));
    EXPECT_FALSE(reader.is_open());
}

TEST(CreateOutput, FailsOverTheOpenInputAndLeavesItIntact)
{
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    dir.make_file("same.aifc", "input bytes");

    platform::File input;
    ASSERT_TRUE(platform::open_input(dir.path("same.aifc"), input));
    {
        Closer close_input{input};
        platform::File output;
        EXPECT_FALSE(platform::create_output(dir.path("same.aifc"), input, output));
        EXPECT_FALSE(output.is_open());
        // A second reader is still welcome.
        platform::File second;
        EXPECT_TRUE(platform::open_input(dir.path("same.aifc"), second));
        platform::close_file(second);
    }
    EXPECT_EQ(dir.read_file("same.aifc"), "input bytes");
}

TEST(CreateOutput, TruncatesAnExistingFileOnceNothingHoldsIt)
{
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    dir.make_file("old.aifc", "a much longer old content");

    platform::File output;
    ASSERT_TRUE(platform::create_output(dir.path("old.aifc"), platform::File{}, output));
    EXPECT_TRUE(platform::write_file(output, "new", 3));
    platform::close_file(output);
    EXPECT_FALSE(output.is_open());
    EXPECT_EQ(dir.read_file("old.aifc"), "new");
}

TEST(CreateOutput, FailsOverAReadOnlyFile)
{
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    dir.make_file("locked.aifc", "keep");
    ASSERT_TRUE(SetFileAttributesA(dir.path("locked.aifc").c_str(), FILE_ATTRIBUTE_READONLY));

    // Wine keeps the attribute as missing write permission, which a process
    // of the superuser passes over: there the system itself lets it through.
    const HANDLE probe = CreateFileA(dir.path("locked.aifc").c_str(), GENERIC_WRITE,
                                     FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (probe != INVALID_HANDLE_VALUE) {
        CloseHandle(probe);
        GTEST_SKIP() << "this system does not enforce the read-only attribute";
    }

    platform::File output;
    EXPECT_FALSE(platform::create_output(dir.path("locked.aifc"), platform::File{}, output));
    EXPECT_FALSE(output.is_open());
    EXPECT_EQ(dir.read_file("locked.aifc"), "keep");
}

TEST(CreateOutput, OutputCanBeReadWhileOpen)
{
    // FILE_SHARE_READ on the output: a viewer may look at it meanwhile.
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    platform::File output;
    ASSERT_TRUE(platform::create_output(dir.path("out.aifc"), platform::File{}, output));
    Closer close_output{output};
    ASSERT_TRUE(platform::write_file(output, "FORM", 4));
    EXPECT_EQ(dir.read_file("out.aifc"), "FORM");
}

TEST(RemoveFile, RemovesOnceAndFailsForMissing)
{
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    dir.make_file("partial.aifc", "x");
    EXPECT_TRUE(platform::remove_file(dir.path("partial.aifc")));
    EXPECT_FALSE(dir.exists("partial.aifc"));
    EXPECT_FALSE(platform::remove_file(dir.path("partial.aifc")));
}

// --- Reading, writing, positions -------------------------------------------

TEST(FileIo, ReadSeekAndSize)
{
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    dir.make_file("data.bin", "0123456789");

    platform::File file;
    ASSERT_TRUE(platform::open_input(dir.path("data.bin"), file));
    Closer close_file{file};

    std::uint64_t size = 0;
    ASSERT_TRUE(platform::file_size(file, size));
    EXPECT_EQ(size, 10u);

    char buffer[16] = {};
    ASSERT_TRUE(platform::seek_file(file, 4));
    EXPECT_EQ(platform::read_file(file, buffer, 3), 3u);
    EXPECT_EQ(std::string(buffer, 3), "456");

    // Asking past the end delivers what is there.
    EXPECT_EQ(platform::read_file(file, buffer, sizeof buffer), 3u);
    EXPECT_EQ(std::string(buffer, 3), "789");
    EXPECT_EQ(platform::read_file(file, buffer, sizeof buffer), 0u);

    // A read-only handle cannot write.
    EXPECT_FALSE(platform::write_file(file, "x", 1));
}

TEST(FileIo, WriteThenRewriteTheHead)
{
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    platform::File file;
    ASSERT_TRUE(platform::create_output(dir.path("out.bin"), platform::File{}, file));
    EXPECT_TRUE(platform::write_file(file, "FORM\0\0\0\0AIFC", 12));
    EXPECT_TRUE(platform::write_file(file, "", 0));
    ASSERT_TRUE(platform::seek_file(file, 4));
    EXPECT_TRUE(platform::write_file(file, "\0\0\0\x04", 4));
    std::uint64_t size = 0;
    ASSERT_TRUE(platform::file_size(file, size));
    EXPECT_EQ(size, 12u);
    platform::close_file(file);
    EXPECT_EQ(dir.read_file("out.bin"), std::string("FORM\0\0\0\x04" "AIFC", 12));
}

// Offsets and sizes whose low 32 bits are 0xFFFFFFFF look like the failure
// value of SetFilePointer and GetFileSize; those above 4 GiB need the high
// half. The files are sparse where the file system allows it.
class LargeFile : public ::testing::TestWithParam<std::uint64_t> {};

TEST_P(LargeFile, SeekWriteAndSizeBeyondTheLowHalf)
{
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    const std::uint64_t offset = GetParam();

    platform::File file;
    ASSERT_TRUE(platform::create_output(dir.path("big.bin"), platform::File{}, file));
    Closer close_file{file};

    SetLastError(ERROR_ACCESS_DENIED); // a stale error code must not count as failure
    ASSERT_TRUE(platform::seek_file(file, offset));
    ASSERT_TRUE(platform::write_file(file, "Z", 1));

    SetLastError(ERROR_ACCESS_DENIED);
    std::uint64_t size = 0;
    ASSERT_TRUE(platform::file_size(file, size));
    EXPECT_EQ(size, offset + 1);

    // The byte really landed at that offset.
    const HANDLE h = CreateFileA(dir.path("big.bin").c_str(), GENERIC_READ,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    LARGE_INTEGER where;
    where.QuadPart = static_cast<LONGLONG>(offset);
    char byte = 0;
    DWORD n = 0;
    EXPECT_TRUE(SetFilePointerEx(h, where, NULL, FILE_BEGIN));
    EXPECT_TRUE(ReadFile(h, &byte, 1, &n, NULL));
    CloseHandle(h);
    EXPECT_EQ(n, 1u);
    EXPECT_EQ(byte, 'Z');
}

INSTANTIATE_TEST_SUITE_P(Offsets, LargeFile,
                         ::testing::Values(std::uint64_t{0xFFFFFFFEu},  // size 0xFFFFFFFF
                                           std::uint64_t{0xFFFFFFFFu},  // offset 0xFFFFFFFF
                                           std::uint64_t{0x100000003u}, // past 4 GiB
                                           std::uint64_t{0x1FFFFFFFFu}));

TEST(FileIo, CloseMarksClosedAndIgnoresAClosedFile)
{
    platform::File file;
    platform::close_file(file);
    EXPECT_FALSE(file.is_open());
    EXPECT_EQ(file.handle, -1);
}

// --- Command line ------------------------------------------------------------

TEST(NextChar, StepsOneAnsiCharacterAndStopsAtTheEnd)
{
    const char text[] = "ab";
    EXPECT_EQ(platform::next_char(text), text + 1);
    EXPECT_EQ(platform::next_char(text + 1), text + 2);
    EXPECT_EQ(platform::next_char(text + 2), text + 2);
}

TEST(ProgramFileName, IsTheModuleNameWithoutDirectory)
{
    EXPECT_EQ(platform::program_file_name(0, nullptr), "fernwick_unit_tests.exe");
}

// --- Standard output ---------------------------------------------------------

// Swaps STD_OUTPUT_HANDLE for one test and restores it; the C runtime's own
// stdout (used by the test framework) is not affected by SetStdHandle.
class StdoutSwap {
public:
    explicit StdoutSwap(HANDLE h) : saved_(GetStdHandle(STD_OUTPUT_HANDLE))
    {
        SetStdHandle(STD_OUTPUT_HANDLE, h);
        platform::init();
    }
    ~StdoutSwap()
    {
        SetStdHandle(STD_OUTPUT_HANDLE, saved_);
        platform::init();
    }
    StdoutSwap(const StdoutSwap&) = delete;
    StdoutSwap& operator=(const StdoutSwap&) = delete;

private:
    HANDLE saved_;
};

TEST(Stdout, NoHandleIsNone)
{
    for (HANDLE h : {HANDLE(NULL), INVALID_HANDLE_VALUE}) {
        StdoutSwap swap(h);
        EXPECT_EQ(platform::stdout_kind(), platform::StdoutKind::none);
        EXPECT_FALSE(platform::write_stdout("x", 1));
    }
}

TEST(Stdout, FileIsOtherAndReceivesTheBytes)
{
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    const HANDLE h = CreateFileA(dir.path("stdout.txt").c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                 NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    {
        StdoutSwap swap(h);
        EXPECT_EQ(platform::stdout_kind(), platform::StdoutKind::other);
        EXPECT_TRUE(platform::write_stdout("line\r\n", 6));
    }
    CloseHandle(h);
    EXPECT_EQ(dir.read_file("stdout.txt"), "line\r\n");
}

TEST(Stdout, PipeIsOther)
{
    HANDLE read_end = NULL;
    HANDLE write_end = NULL;
    ASSERT_TRUE(CreatePipe(&read_end, &write_end, NULL, 0));
    {
        StdoutSwap swap(write_end);
        EXPECT_EQ(platform::stdout_kind(), platform::StdoutKind::other);
        EXPECT_TRUE(platform::write_stdout("ab", 2));
    }
    char buffer[4] = {};
    DWORD n = 0;
    EXPECT_TRUE(ReadFile(read_end, buffer, sizeof buffer, &n, NULL));
    EXPECT_EQ(std::string(buffer, n), "ab");
    CloseHandle(write_end);
    CloseHandle(read_end);
}

TEST(Stdout, NulDeviceIsACharacterDevice)
{
    const HANDLE h = CreateFileA("NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                                 OPEN_EXISTING, 0, NULL);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    {
        StdoutSwap swap(h);
        EXPECT_EQ(platform::stdout_kind(), platform::StdoutKind::console);
        EXPECT_TRUE(platform::write_stdout("ignored", 7));
    }
    CloseHandle(h);
}

// --- Regional settings -------------------------------------------------------

struct SeparatorCase {
    LCID locale;
    char expected;
};

class DecimalSeparator : public ::testing::TestWithParam<SeparatorCase> {};

TEST_P(DecimalSeparator, FollowsTheThreadLocale)
{
    const LCID saved = GetThreadLocale();
    ASSERT_TRUE(SetThreadLocale(GetParam().locale));
    const char separator = platform::decimal_separator();
    SetThreadLocale(saved);
    EXPECT_EQ(separator, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Locales, DecimalSeparator,
    ::testing::Values(SeparatorCase{MAKELCID(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), SORT_DEFAULT), '.'},
                      SeparatorCase{MAKELCID(MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN), SORT_DEFAULT), ','},
                      SeparatorCase{MAKELCID(MAKELANGID(LANG_FRENCH, SUBLANG_FRENCH), SORT_DEFAULT), ','},
                      SeparatorCase{MAKELCID(MAKELANGID(LANG_JAPANESE, SUBLANG_JAPANESE_JAPAN), SORT_DEFAULT), '.'}));

} // namespace

#endif // _WIN32

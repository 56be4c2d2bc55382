#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>

#include <unistd.h>

#include "fda/byte_source.h"
#include "support/fda_builder.h"

namespace {

std::string temp_file_with(const std::string& bytes)
{
    char name[] = "/tmp/fernwick-source-XXXXXX";
    close(mkstemp(name));
    EXPECT_TRUE(fixture::write_file(name, bytes));
    return name;
}

// Windows reads its inputs and lends nothing.
#ifdef _WIN32
constexpr bool maps_files = false;
#else
constexpr bool maps_files = true;
#endif

// The file source, with its read-ahead and its lent windows, must deliver
// exactly what plain memory delivers, for any mix of reads, skips and lends.
TEST(FileSource, AgreesWithMemoryForAnyMixOfReadsSkipsAndLends)
{
    constexpr std::size_t window = FileSource::lend_window;
    const std::string bytes = fixture::pattern_bytes(window + 5 * FileSource::read_ahead + 123, 3);
    const std::string path = temp_file_with(bytes);
    const std::size_t sizes[] = {0, 1, 3, 4, 20, 28, 4095, FileSource::read_ahead - 1,
                                 FileSource::read_ahead, FileSource::read_ahead + 1, 200000,
                                 window, window + 1};

    std::mt19937 rng(42);
    for (int round = 0; round < 50; ++round) {
        platform::File file;
        ASSERT_TRUE(platform::open_input(path, file));
        FileSource from_file(file);
        MemorySource from_memory(bytes.data(), bytes.size());
        ASSERT_EQ(from_file.remaining(), bytes.size());

        while (from_memory.remaining() > 0) {
            const std::size_t n = sizes[rng() % std::size(sizes)];
            const unsigned op = rng() % 4;
            if (op == 0) {
                if (n > from_memory.remaining())
                    continue; // callers check before they skip
                ASSERT_TRUE(from_file.skip(n));
                ASSERT_TRUE(from_memory.skip(n));
            } else if (op == 1) {
                const platform::Piece lent = from_file.lend(n);
                ASSERT_LE(lent.size, n);
                if (!maps_files) {
                    ASSERT_EQ(lent.size, 0u) << "one write per piece: all goes through the buffer";
                } else if (n >= window && from_memory.remaining() >= window) {
                    ASSERT_EQ(lent.size, window) << "a whole window is mapped";
                }
                const platform::Piece expected = from_memory.lend(lent.size);
                ASSERT_EQ(expected.size, lent.size);
                // Safe to read here: nothing cuts the file under this test.
                if (lent.size != 0) {
                    ASSERT_EQ(std::memcmp(lent.data, expected.data, lent.size), 0);
                }
            } else {
                std::string a(n, '\0'), b(n, '\0');
                const std::size_t got_a = from_file.read(a.data(), n);
                const std::size_t got_b = from_memory.read(b.data(), n);
                ASSERT_EQ(got_a, got_b);
                ASSERT_EQ(a, b);
            }
            ASSERT_EQ(from_file.remaining(), from_memory.remaining());
        }
        char extra;
        EXPECT_EQ(from_file.read(&extra, 1), 0u);
        platform::close_file(file);
    }
    unlink(path.c_str());
}

#ifndef _WIN32
// A file cut short after the source was made gives a short read, not stale
// or invented bytes. (Windows refuses to cut a file that is open for
// reading with read sharing only.)
TEST(FileSource, FileThatShrinksReadsShort)
{
    const std::string bytes = fixture::pattern_bytes(3 * FileSource::read_ahead, 5);
    const std::string path = temp_file_with(bytes);
    platform::File file;
    ASSERT_TRUE(platform::open_input(path, file));
    FileSource source(file);
    ASSERT_EQ(truncate(path.c_str(), 1000), 0);

    std::string got(bytes.size(), '\0');
    EXPECT_EQ(source.read(got.data(), got.size()), 1000u);
    EXPECT_EQ(got.substr(0, 1000), bytes.substr(0, 1000));
    platform::close_file(file);
    unlink(path.c_str());
}
#endif

#ifndef _WIN32
// Bytes lent from a mapping are checked against the file's size after
// they are written: a cut inside the last page would read as zeros.
TEST(FileSource, LentWindowsAreIntactOnlyWhileTheFileHoldsThem)
{
    constexpr std::size_t window = FileSource::lend_window;
    const std::string bytes = fixture::pattern_bytes(window + 5000, 9);
    const std::string path = temp_file_with(bytes);
    const struct {
        const char* what;
        std::size_t lend;         // bytes asked for from the start
        std::uint64_t cut_to;     // afterwards
        bool intact;
    } cases[] = {
        {"nothing lent", 0, 10, true},
        {"held bytes only", 1000, 10, true},  // copies, not a mapping
        {"a window, file whole", window, bytes.size(), true},
        {"a window, cut past it", window, window, true},
        {"a window, cut inside it", window, window - 1, false},
        {"a window, cut at its start", window, 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(fixture::write_file(path, bytes));
        platform::File file;
        ASSERT_TRUE(platform::open_input(path, file));
        {
            FileSource source(file);
            if (c.lend == 1000) {
                char header[4];
                ASSERT_EQ(source.read(header, 4), 4u);  // fills the read-ahead
            }
            if (c.lend != 0) {
                ASSERT_EQ(source.lend(c.lend).size, c.lend);
            }
            ASSERT_EQ(truncate(path.c_str(), static_cast<off_t>(c.cut_to)), 0);
            EXPECT_EQ(source.lent_intact(), c.intact);
        }
        platform::close_file(file);
    }
    unlink(path.c_str());
}

// After a lent window the file's own position lags behind; reads and skips
// must go on from the end of the window.
TEST(FileSource, ReadsAndSkipsGoOnAfterALentWindow)
{
    constexpr std::size_t window = FileSource::lend_window;
    const std::string bytes = fixture::pattern_bytes(3 * window, 4);
    const std::string path = temp_file_with(bytes);
    platform::File file;
    ASSERT_TRUE(platform::open_input(path, file));
    FileSource source(file);

    char first[10];
    ASSERT_EQ(source.read(first, sizeof first), sizeof first);
    ASSERT_EQ(source.lend(window).size, window);
    std::string got(100, '\0');
    ASSERT_EQ(source.read(got.data(), got.size()), got.size());
    EXPECT_EQ(got, bytes.substr(10 + window, 100));

    ASSERT_EQ(source.lend(window).size, window);
    ASSERT_TRUE(source.skip(1000));
    ASSERT_EQ(source.read(got.data(), got.size()), got.size());
    EXPECT_EQ(got, bytes.substr(10 + window + 100 + window + 1000, 100));
    platform::close_file(file);
    unlink(path.c_str());
}
#endif

TEST(MemorySource, SkipsOnlyWhatIsThere)
{
    const char data[] = "abcdef";
    MemorySource s(data, 6);
    EXPECT_FALSE(s.skip(7));
    EXPECT_TRUE(s.skip(6));
    EXPECT_EQ(s.remaining(), 0u);
    char c;
    EXPECT_EQ(s.read(&c, 1), 0u);
}

} // namespace

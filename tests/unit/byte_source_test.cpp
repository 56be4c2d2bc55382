#include <gtest/gtest.h>

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

// The file source, with its read-ahead, must deliver exactly what plain
// memory delivers, for any mix of small and large reads and skips.
TEST(FileSource, AgreesWithMemoryForAnyMixOfReadsAndSkips)
{
    const std::string bytes = fixture::pattern_bytes(5 * FileSource::read_ahead + 123, 3);
    const std::string path = temp_file_with(bytes);
    const std::size_t sizes[] = {0, 1, 3, 4, 20, 28, 4095, FileSource::read_ahead - 1,
                                 FileSource::read_ahead, FileSource::read_ahead + 1, 200000};

    std::mt19937 rng(42);
    for (int round = 0; round < 50; ++round) {
        platform::File file;
        ASSERT_TRUE(platform::open_input(path, file));
        FileSource from_file(file);
        MemorySource from_memory(bytes.data(), bytes.size());
        ASSERT_EQ(from_file.remaining(), bytes.size());

        while (from_memory.remaining() > 0) {
            const std::size_t n = sizes[rng() % std::size(sizes)];
            if (rng() % 3 == 0) {
                if (n > from_memory.remaining())
                    continue; // callers check before they skip
                ASSERT_TRUE(from_file.skip(n));
                ASSERT_TRUE(from_memory.skip(n));
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

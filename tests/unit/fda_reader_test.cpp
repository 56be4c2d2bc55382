#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

#include "fda/fda.h"
#include "support/alloc_counter.h"
#include "support/fda_builder.h"

using fixture::chunk_header;
using fixture::chunky_header;
using fixture::le32;

namespace {

// An FBIF body with three empty texts.
std::string empty_fbif_body() { return le32(0) + le32(0) + le32(0) + le32(0); }

std::string default_info() { return fixture::info_body(fixture::Info{}); }

struct ReadResult {
    FdaReadError error;
    FdaStream stream;
    std::uint64_t consumed; // bytes taken from the source
};

ReadResult read_bytes(const std::string& bytes)
{
    MemorySource source(bytes.data(), bytes.size());
    ReadResult r{};
    r.error = read_fda_stream(source, r.stream);
    r.consumed = bytes.size() - source.remaining();
    return r;
}

fixture::FdaFields with_names(std::string a, std::string b, std::string c, std::string d)
{
    fixture::FdaFields f;
    f.names[0] = std::move(a);
    f.names[1] = std::move(b);
    f.names[2] = std::move(c);
    f.names[3] = std::move(d);
    return f;
}

fixture::FdaFields with_ids(std::string a, std::string b, std::string c, std::string d)
{
    fixture::FdaFields f;
    f.ids[0] = std::move(a);
    f.ids[1] = std::move(b);
    f.ids[2] = std::move(c);
    f.ids[3] = std::move(d);
    return f;
}

fixture::FdaFields with_magic(std::string magic)
{
    fixture::FdaFields f;
    f.magic = std::move(magic);
    return f;
}

struct ReaderCase {
    const char* what;
    std::string bytes;
    FdaReadError error;
    std::uint64_t payload_at; // success: where the payload begins
};

std::vector<ReaderCase> reader_cases()
{
    using E = FdaReadError;
    fixture::FdaFields plain;
    fixture::FdaFields texts;
    texts.text2 = "twelve bytes";
    texts.value = 0xDEADBEEF;
    fixture::FdaFields payload_0;
    payload_0.payload = "";
    fixture::FdaFields zero_info;
    zero_info.info = fixture::Info{0, 0, 0, 0, 0, 0, 0};
    zero_info.payload = "abc";

    const std::string head = chunky_header() + chunk_header("FBIF") + empty_fbif_body();
    const std::string tail = chunk_header("INFO") + default_info() + chunk_header("DATA") + le32(0);

    std::vector<ReaderCase> cases = {
        // The five tests, in their order.
        {"not relic chunky", fixture::fda_bytes(with_magic("Relic Chunkz")), E::not_relic_chunky, 0},
        {"first chunk not FBIF", fixture::fda_bytes(with_ids("FBIG", "FDA ", "INFO", "DATA")), E::no_fbif_chunk, 0},
        {"second chunk not FDA", fixture::fda_bytes(with_ids("FBIF", "FDA!", "INFO", "DATA")), E::not_fda, 0},
        {"third chunk not INFO", fixture::fda_bytes(with_ids("FBIF", "FDA ", "INFX", "DATA")), E::no_info_chunk, 0},
        {"fourth chunk not DATA", fixture::fda_bytes(with_ids("FBIF", "FDA ", "INFO", "DAT ")), E::no_data_chunk, 0},
        {"several faults: the first counts", fixture::fda_bytes(with_ids("FBIF", "FDAX", "INFX", "DATX")), E::not_fda, 0},

        // Valid layouts and where their payload begins.
        {"no names, empty texts", fixture::fda_bytes(plain), E::none, 152},
        {"names of 5, 1, 3, 9 bytes", fixture::fda_bytes(with_names("abcde", "f", "ghi", "jklmnopqr")), E::none, 170},
        {"texts of 0, 12, 0 bytes", fixture::fda_bytes(texts), E::none, 164},
        {"empty payload", fixture::fda_bytes(payload_0), E::none, 152},
        {"all-zero INFO body", fixture::fda_bytes(zero_info), E::none, 152},
        {"magic followed by anything", "Relic Chunky" + std::string(12, '\xFF') + fixture::fda_bytes(plain).substr(24), E::none, 152},

        // Codes compare exactly, case and NUL included.
        {"lower-case magic", fixture::fda_bytes(with_magic("relic chunky")), E::not_relic_chunky, 0},
        {"upper-case magic", fixture::fda_bytes(with_magic("RELIC CHUNKY")), E::not_relic_chunky, 0},
        {"magic with a NUL", fixture::fda_bytes(with_magic(std::string("Relic Chunk\0", 12))), E::not_relic_chunky, 0},
        {"lower-case fbif", fixture::fda_bytes(with_ids("fbif", "FDA ", "INFO", "DATA")), E::no_fbif_chunk, 0},
        {"FDA with a NUL", fixture::fda_bytes(with_ids("FBIF", std::string("FDA\0", 4), "INFO", "DATA")), E::not_fda, 0},
        {"lower-case info", fixture::fda_bytes(with_ids("FBIF", "FDA ", "info", "DATA")), E::no_info_chunk, 0},
        {"lower-case data", fixture::fda_bytes(with_ids("FBIF", "FDA ", "INFO", "data")), E::no_data_chunk, 0},

        // Chunks out of place.
        {"one FBIF byte too many", head + "X" + std::string("FDA FDA ", 8) + le32(0) + le32(0) + le32(0) + tail, E::not_fda, 0},
        {"no FDA header", head + tail, E::not_fda, 0},
        {"two FBIF chunks", head + chunk_header("FBIF") + empty_fbif_body() + chunk_header("FDA ") + tail, E::not_fda, 0},
        {"DATA before INFO", head + chunk_header("FDA ") + chunk_header("DATA") + le32(0) + chunk_header("INFO") + default_info(), E::no_info_chunk, 0},
        {"INFO body one byte long", head + chunk_header("FDA ") + chunk_header("INFO") + default_info() + "X" + std::string("DATADATA", 8) + le32(0) + le32(0) + le32(0) + le32(0), E::no_data_chunk, 0},

        // Files that end early, and lengths that claim more than is there.
        {"empty file", "", E::not_relic_chunky, 0},
        {"eleven bytes of the magic", "Relic Chunk", E::not_relic_chunky, 0},
        {"only the magic", "Relic Chunky", E::truncated, 0},
        {"23 bytes of file header", chunky_header().substr(0, 23), E::truncated, 0},
        {"file header alone", chunky_header(), E::truncated, 0},
        {"wrong magic, short file", "Relic Chunkz", E::not_relic_chunky, 0},
        {"chunk header cut", chunky_header() + chunk_header("FBIF").substr(0, 19), E::truncated, 0},
        {"name longer than the file", chunky_header() + chunk_header("FBIF", "ab", 0xFFFFFFFFu) + empty_fbif_body(), E::truncated, 0},
        {"text length of ~4 GiB", chunky_header() + chunk_header("FBIF") + le32(0xFFFFFFF0u) + std::string(64, 'x'), E::truncated, 0},
        {"INFO body cut", head + chunk_header("FDA ") + chunk_header("INFO") + default_info().substr(0, 27), E::truncated, 0},
        {"payload_length cut", head + chunk_header("FDA ") + chunk_header("INFO") + default_info() + chunk_header("DATA") + "\1\0\0", E::truncated, 0},
        {"payload one byte short", head + chunk_header("FDA ") + tail.substr(0, tail.size() - 4) + le32(5) + "abcd", E::truncated, 0},
        {"payload of 2^31 bytes claimed", head + chunk_header("FDA ") + tail.substr(0, tail.size() - 4) + le32(0x80000000u) + "abcd", E::truncated, 0},
        {"payload complete", head + chunk_header("FDA ") + tail.substr(0, tail.size() - 4) + le32(5) + "abcde", E::none, 152},
        {"bytes after the payload", head + chunk_header("FDA ") + tail.substr(0, tail.size() - 4) + le32(2) + "abcde", E::none, 152},
    };
    return cases;
}

TEST(FdaReader, CasesEndWithTheirMessageOrPayloadOffset)
{
    for (const ReaderCase& c : reader_cases()) {
        SCOPED_TRACE(c.what);
        const ReadResult r = read_bytes(c.bytes);
        EXPECT_EQ(r.error, c.error);
        if (c.error == FdaReadError::none) {
            EXPECT_EQ(r.consumed, c.payload_at);
        }
    }
}

TEST(FdaReader, MessagesOfEveryFailure)
{
    const struct {
        FdaReadError error;
        const char* message;
    } table[] = {
        {FdaReadError::not_relic_chunky, "File not Relic Chunky."},
        {FdaReadError::no_fbif_chunk, "Not found FBIF chunk."},
        {FdaReadError::not_fda, "File not FDA."},
        {FdaReadError::no_info_chunk, "Not found INFO chunk."},
        {FdaReadError::no_data_chunk, "Not found DATA chunk."},
        {FdaReadError::truncated, "File truncated."},
    };
    for (const auto& row : table)
        EXPECT_STREQ(fda_read_error_message(row.error), row.message);
}

TEST(FdaReader, YieldsTheInfoAndLengthAsStored)
{
    fixture::FdaFields f = fixture::rich_fields(300);
    f.info = fixture::Info{0xFFFFFFFFu, 65538, 515, 4294967295u, 7, 0x80000000u, 123456};
    const std::string bytes = fixture::fda_bytes(f);

    MemorySource source(bytes.data(), bytes.size());
    FdaStream s;
    ASSERT_EQ(read_fda_stream(source, s), FdaReadError::none);
    EXPECT_EQ(s.info.channels, 0xFFFFFFFFu);
    EXPECT_EQ(s.info.sample_size, 65538u);
    EXPECT_EQ(s.info.block_bits, 515u);
    EXPECT_EQ(s.info.sample_rate, 4294967295u);
    EXPECT_EQ(s.info.loop_begin, 7u);
    EXPECT_EQ(s.info.loop_end, 0x80000000u);
    EXPECT_EQ(s.info.start_offset, 123456u);
    EXPECT_EQ(s.payload_length, 300u);
    EXPECT_EQ(s.input, &source);

    // The input stands at the first payload byte.
    char first[4];
    ASSERT_EQ(source.read(first, 4), 4u);
    EXPECT_EQ(std::string(first, 4), f.payload.substr(0, 4));
}

// Every cut of a valid file, at each byte offset, names its damage: before
// 12 bytes the magic cannot match; from there on the file is truncated.
TEST(FdaReader, EveryCutOfAValidFileIsReported)
{
    const fixture::FdaFields f = fixture::rich_fields(40);
    const std::string whole = fixture::fda_bytes(f);
    ASSERT_EQ(whole.size(), fixture::payload_offset(f) + 40);

    for (std::size_t cut = 0; cut < whole.size(); ++cut) {
        SCOPED_TRACE("cut at " + std::to_string(cut));
        const FdaReadError expected = cut < 12 ? FdaReadError::not_relic_chunky : FdaReadError::truncated;
        EXPECT_EQ(read_bytes(whole.substr(0, cut)).error, expected);
    }
    EXPECT_EQ(read_bytes(whole).error, FdaReadError::none);
}

// A file read after a damaged one is judged on its own bytes alone.
TEST(FdaReader, NothingCarriesOverFromAnEarlierFile)
{
    fixture::FdaFields good;
    good.payload = "0123";
    good.info.channels = 6;
    const std::string first = fixture::fda_bytes(good);
    ASSERT_EQ(read_bytes(first).error, FdaReadError::none);

    // Ends right after the DATA id: the previous payload_length must not count.
    const std::string cut = first.substr(0, fixture::payload_offset(good) - 4 - 12);
    EXPECT_EQ(read_bytes(cut).error, FdaReadError::truncated);

    fixture::FdaFields other;
    other.info.channels = 1;
    FdaStream s;
    const std::string second = fixture::fda_bytes(other);
    MemorySource source(second.data(), second.size());
    ASSERT_EQ(read_fda_stream(source, s), FdaReadError::none);
    EXPECT_EQ(s.info.channels, 1u);
    EXPECT_EQ(s.payload_length, 0u);
}

// A fresh file name, removed at the end. The descriptor is closed at once:
// Windows will not let the file be written by name while it is open.
class TempFile {
public:
    TempFile()
    {
        char name[] = "/tmp/fernwick-reader-XXXXXX";
        close(mkstemp(name));
        path_ = name;
    }
    ~TempFile() { unlink(path_.c_str()); }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

FdaReadError read_file_at(const std::string& path, FdaStream& stream, platform::File& file)
{
    EXPECT_TRUE(platform::open_input(path, file));
    FileSource source(file);
    FdaReadError e = read_fda_stream(source, stream);
    stream.input = nullptr; // the source dies here
    return e;
}

// Lengths near 4 GiB fail at once, without reading or allocating what they
// claim.
TEST(FdaReader, HugeClaimsFailWithoutAllocating)
{
    const std::string claims[] = {
        chunky_header() + chunk_header("FBIF", "", 0xFFFFFFFFu) + std::string(100, 'n'),
        chunky_header() + chunk_header("FBIF") + le32(0xFFFFFFFFu) + std::string(100, 't'),
        chunky_header() + chunk_header("FBIF") + le32(0) + le32(0) + le32(0) + le32(0xFFFFFFFEu),
        fixture::fda_bytes([] { fixture::FdaFields f; f.payload_length = 0xFFFFFFFFu; f.payload = "xy"; return f; }()),
    };
    for (const std::string& bytes : claims) {
        TempFile tmp;
        ASSERT_TRUE(fixture::write_file(tmp.path(), bytes));
        platform::File file;
        FdaStream s;
        alloc_counter::reset();
        EXPECT_EQ(read_file_at(tmp.path(), s, file), FdaReadError::truncated);
        // Only the source's fixed read-ahead, nothing sized by a claim.
        EXPECT_LE(alloc_counter::since_reset().bytes, FileSource::read_ahead);
        platform::close_file(file);
    }
}

// A payload of 2^31 bytes or more is an ordinary length: checked against the
// file like any other (a sparse file stands in for 4 GiB of real bytes).
TEST(FdaReader, PayloadsOfTwoGigabytesAndMoreAreOrdinary)
{
    for (const std::uint32_t length : {0x80000000u, 0xFFFFFFFFu}) {
        fixture::FdaFields f;
        f.payload_length = length;
        const std::string head = fixture::fda_bytes(f);
        for (const bool complete : {true, false}) {
            SCOPED_TRACE(std::to_string(length) + (complete ? " complete" : " one byte short"));
            TempFile tmp;
            ASSERT_TRUE(fixture::write_file(tmp.path(), head));
            const std::uintmax_t size = head.size() + std::uintmax_t{length} - (complete ? 0 : 1);
            std::filesystem::resize_file(tmp.path(), size); // sparse where the file system allows

            platform::File file;
            FdaStream s;
            EXPECT_EQ(read_file_at(tmp.path(), s, file), complete ? FdaReadError::none : FdaReadError::truncated);
            if (complete) {
                EXPECT_EQ(s.payload_length, length);
            }
            platform::close_file(file);
        }
    }
}

TEST(FdaReader, ChunkHeaderNameIsPassedOver)
{
    const std::string bytes = chunk_header("INFO", "seven77") + "NEXT";
    MemorySource source(bytes.data(), bytes.size());
    ChunkHeader h;
    ASSERT_EQ(read_chunk_header(source, h), FdaReadError::none);
    EXPECT_TRUE(chunk_id_is(h, "INFO"));
    EXPECT_FALSE(chunk_id_is(h, "INFo"));
    EXPECT_EQ(h.name_length(), 7u);
    EXPECT_EQ(source.remaining(), 4u); // 27 bytes after the header's start
}

} // namespace

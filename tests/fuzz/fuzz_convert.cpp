// libFuzzer target over one file's whole path, as the driver takes it:
// reader, summary line, checks, output creation, writer, removal. The input
// comes from memory; the output goes to a file in a private directory.
//
// Every result is held against an account made here on its own: a plain
// reading of the layout, integer figures for the summary, and the AIFF-C
// file assembled by the tests' support code.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "aifc/aifc.h"
#include "fda/byte_source.h"
#include "fda/fda.h"
#include "summary.h"
#include "support/aifc_expected.h"
#include "support/fda_builder.h"

namespace {

[[noreturn]] void fail(const char* what)
{
    std::fprintf(stderr, "fuzz_convert: invariant broken: %s\n", what);
    std::abort();
}

#define CHECK(condition)      \
    do {                      \
        if (!(condition))     \
            fail(#condition); \
    } while (0)

std::uint32_t le32_at(const std::uint8_t* p)
{
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// What the reader must make of the bytes, worked out by walking the layout
// with plain offsets.
struct Account {
    FdaReadError error = FdaReadError::none;
    FdaInfo info;
    std::uint32_t payload_length = 0;
    std::size_t payload_at = 0;
};

class Walk {
public:
    Walk(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    bool has(std::uint64_t count) const { return count <= size_ - at_; }

    bool u32(std::uint32_t& value)
    {
        if (!has(4))
            return false;
        value = le32_at(data_ + at_);
        at_ += 4;
        return true;
    }

    bool pass(std::uint64_t count)
    {
        if (!has(count))
            return false;
        at_ += static_cast<std::size_t>(count);
        return true;
    }

    // 20 fixed bytes, then the name; the id counts only once both are there.
    FdaReadError chunk(const char* id, FdaReadError mismatch)
    {
        if (!has(20))
            return FdaReadError::truncated;
        const bool same = std::memcmp(data_ + at_ + 4, id, 4) == 0;
        const std::uint32_t name_length = le32_at(data_ + at_ + 16);
        at_ += 20;
        if (!pass(name_length))
            return FdaReadError::truncated;
        return same ? FdaReadError::none : mismatch;
    }

    // A length, then that many bytes.
    bool text()
    {
        std::uint32_t length;
        return u32(length) && pass(length);
    }

    std::size_t at() const { return at_; }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

Account expected_read(const std::uint8_t* data, std::size_t size)
{
    Account a;
    if (size < 12 || std::memcmp(data, "Relic Chunky", 12) != 0) {
        a.error = FdaReadError::not_relic_chunky;
        return a;
    }
    Walk w(data, size);
    std::uint32_t value;
    auto done = [&](FdaReadError e) {
        a.error = e;
        return a;
    };
    if (!w.pass(24))
        return done(FdaReadError::truncated);
    if (FdaReadError e = w.chunk("FBIF", FdaReadError::no_fbif_chunk); e != FdaReadError::none)
        return done(e);
    if (!w.text() || !w.u32(value) || !w.text() || !w.text())
        return done(FdaReadError::truncated);
    if (FdaReadError e = w.chunk("FDA ", FdaReadError::not_fda); e != FdaReadError::none)
        return done(e);
    if (FdaReadError e = w.chunk("INFO", FdaReadError::no_info_chunk); e != FdaReadError::none)
        return done(e);
    std::uint32_t* fields[] = {&a.info.channels,   &a.info.sample_size, &a.info.block_bits,
                               &a.info.sample_rate, &a.info.loop_begin, &a.info.loop_end,
                               &a.info.start_offset};
    for (std::uint32_t* field : fields) {
        if (!w.u32(*field))
            return done(FdaReadError::truncated);
    }
    if (FdaReadError e = w.chunk("DATA", FdaReadError::no_data_chunk); e != FdaReadError::none)
        return done(e);
    if (!w.u32(a.payload_length) || !w.has(a.payload_length))
        return done(FdaReadError::truncated);
    a.payload_at = w.at();
    return a;
}

// "<whole>.<tenth>" for a count of tenths.
std::string tenths_text(std::uint64_t tenths, char separator)
{
    std::string text = std::to_string(tenths / 10);
    if (separator != '\0')
        text += separator;
    return text + static_cast<char>('0' + tenths % 10);
}

// Both figures are exact decimals with few digits wherever they are checked
// here, so the extended arithmetic must give them exactly, rounded half up.
void check_summary(const FdaInfo& info)
{
    for (const char separator : {'.', ',', '\0'}) {
        const std::string summary = format_stream_summary(info, separator);

        // sample_rate / 1000 in tenths, a half going up.
        const std::string khz = tenths_text((std::uint64_t{info.sample_rate} + 50) / 100, separator);
        const std::string channels = std::to_string(
            info.channels < 0x80000000u ? std::int64_t{info.channels}
                                        : std::int64_t{info.channels} - 0x100000000);
        const std::string tail = "kbps, " + khz + "kHz, " + channels + "ch)...";
        CHECK(summary.size() > 1 + tail.size());
        CHECK(summary[0] == '(');
        CHECK(summary.compare(summary.size() - tail.size(), tail.size(), tail) == 0);

        // block_bits × 44100/512 × channels / 1000 = P / 128000 with P below
        // 2^64 and the value below 10^8: exact through the products, and
        // within the 18 digits after the division.
        const std::string kbps = summary.substr(1, summary.size() - 1 - tail.size());
        const std::uint64_t limit = 12800000000000u;  // 128000 × 10^8
        const std::uint64_t per_channel = std::uint64_t{info.block_bits} * 11025u;
        if (info.channels == 0 || per_channel < limit / info.channels) {
            const std::uint64_t p = per_channel * info.channels;
            CHECK(kbps == tenths_text((p + 6400) / 12800, separator));
        }

        // Otherwise digits and one decimal, or from 10^18 on one digit, the
        // rest after the separator, and the exponent.
        auto digits = [](const std::string& text) {
            return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
        };
        const std::size_t e = kbps.find('E');
        const std::size_t sep = separator != '\0' ? kbps.find(separator) : std::string::npos;
        if (e == std::string::npos) {
            const std::size_t decimal = separator != '\0' ? 2 : 1;
            CHECK(kbps.size() > decimal && digits(kbps.substr(0, kbps.size() - decimal)) &&
                  digits(kbps.substr(kbps.size() - 1)));
            CHECK(separator == '\0' || sep == kbps.size() - 2);
        } else {
            CHECK(e > 0 && kbps[0] >= '1' && kbps[0] <= '9');
            CHECK(digits(kbps.substr(e + 1)) && std::stoi(kbps.substr(e + 1)) >= 18);
            if (separator == '\0' || sep == std::string::npos)
                CHECK(digits(kbps.substr(0, e)));
            else
                CHECK(sep == 1 && digits(kbps.substr(2, e - 2)));
        }
    }
}

bool exists(const std::string& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

// One private directory per process, removed at exit.
std::string g_dir;

void remove_dir()
{
    if (!g_dir.empty()) {
        unlink((g_dir + "/out.aifc").c_str());
        rmdir(g_dir.c_str());
    }
}

const std::string& output_path()
{
    static const std::string path = [] {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/fernwick-fuzz-XXXXXX";
        if (!mkdtemp(pattern.data()))
            fail("cannot make a temporary directory");
        g_dir = pattern;
        std::atexit(remove_dir);
        return g_dir + "/out.aifc";
    }();
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string& out = output_path();
    const Account expected = expected_read(data, size);

    MemorySource source(data, size);
    FdaStream stream;
    const FdaReadError read = read_fda_stream(source, stream);
    CHECK(read == expected.error);
    if (read != FdaReadError::none) {
        CHECK(*fda_read_error_message(read) != '\0');
        CHECK(!exists(out));
        return 0;
    }

    CHECK(stream.input == &source);
    CHECK(stream.payload_length == expected.payload_length);
    CHECK(size - source.remaining() == expected.payload_at);
    const FdaInfo& info = stream.info;
    const FdaInfo& want = expected.info;
    CHECK(info.channels == want.channels && info.sample_size == want.sample_size &&
          info.block_bits == want.block_bits && info.sample_rate == want.sample_rate &&
          info.loop_begin == want.loop_begin && info.loop_end == want.loop_end &&
          info.start_offset == want.start_offset);

    check_summary(info);

    // Refused streams: no whole frame, or too large for 32-bit sizes (which
    // a payload held in memory here never is).
    const std::uint32_t length = stream.payload_length;
    const bool no_frame = static_cast<std::uint32_t>((info.block_bits >> 3) * info.channels) == 0;
    const AifcWriteError check = check_aifc_stream(stream);
    CHECK(check == (no_frame ? AifcWriteError::invalid_format : AifcWriteError::none));
    if (check != AifcWriteError::none) {
        CHECK(!exists(out));
        return 0;
    }

    platform::File output;
    CHECK(create_aifc_output(out, platform::File{}, output) == AifcWriteError::none);
    const AifcWriteError written = write_aifc(output, stream);
    platform::close_file(output);
    if (written != AifcWriteError::none) {
        // The whole payload is in memory: nothing may fail. Still, the
        // driver's clean-up must leave nothing.
        platform::remove_file(out);
        CHECK(!exists(out));
        fail("write_aifc failed on a stream held in memory");
    }
    CHECK(source.remaining() == size - expected.payload_at - length);

    const std::string file = fixture::read_file(out);
    CHECK(file.size() == 152u + length + (length & 1));
    CHECK(file.compare(90, length, reinterpret_cast<const char*>(data) + expected.payload_at, length) == 0);
    const std::vector<unsigned char> payload(data + expected.payload_at, data + expected.payload_at + length);
    const std::vector<unsigned char> whole = expected_aifc_file(info, payload);
    CHECK(file.size() == whole.size() && std::memcmp(file.data(), whole.data(), whole.size()) == 0);

    CHECK(platform::remove_file(out));
    CHECK(!exists(out));
    return 0;
}

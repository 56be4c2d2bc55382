#include "aifc/aifc.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <initializer_list>
#include <random>
#include <string>
#include <utility>
#include <vector>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "fda/byte_source.h"
#include "platform/platform.h"
#include "support/aifc_expected.h"
#include "support/alloc_counter.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;

Bytes concat(std::initializer_list<const Bytes*> parts)
{
    Bytes out;
    for (const Bytes* p : parts)
        out.insert(out.end(), p->begin(), p->end());
    return out;
}

Bytes pattern(std::size_t size)
{
    Bytes b(size);
    for (std::size_t i = 0; i < size; ++i)
        b[i] = static_cast<unsigned char>(i * 131 + i / 256 + 7);
    return b;
}

template <std::size_t N>
Bytes to_bytes(const std::array<unsigned char, N>& a)
{
    return Bytes(a.begin(), a.end());
}

// ---------------------------------------------------------------------------
// Field encoders

TEST(AifcEncoding, IntegersComeMostSignificantByteFirst)
{
    EXPECT_EQ(to_bytes(swap16(2)), (Bytes{0x00, 0x02}));
    EXPECT_EQ(to_bytes(swap16(16)), (Bytes{0x00, 0x10}));
    EXPECT_EQ(to_bytes(swap16(0x0203)), (Bytes{0x02, 0x03}));
    EXPECT_EQ(to_bytes(swap16(0xFFFE)), (Bytes{0xFF, 0xFE}));
    EXPECT_EQ(to_bytes(swap32(39)), (Bytes{0x00, 0x00, 0x00, 0x27}));
    EXPECT_EQ(to_bytes(swap32(1000)), (Bytes{0x00, 0x00, 0x03, 0xE8}));
    EXPECT_EQ(to_bytes(swap32(0xA2805140)), (Bytes{0xA2, 0x80, 0x51, 0x40}));
    EXPECT_EQ(to_bytes(swap32(0x01020304)), (Bytes{0x01, 0x02, 0x03, 0x04}));
}

TEST(AifcEncoding, SampleRateAsExtended)
{
    const struct {
        std::uint32_t value;
        Bytes bytes;
    } cases[] = {
        {0, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},
        {1, {0x3F, 0xFF, 0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},
        {8000, {0x40, 0x0B, 0xFA, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},
        {22050, {0x40, 0x0D, 0xAC, 0x44, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},
        {44100, {0x40, 0x0E, 0xAC, 0x44, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},
        {48000, {0x40, 0x0E, 0xBB, 0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},
        {4294967295u, {0x40, 0x1E, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(to_bytes(extended_be(c.value)), c.bytes) << c.value;
}

// Every non-zero value: sign 0, integer bit set, and the number read back
// from exponent and significand is the value itself.
TEST(AifcEncoding, ExtendedIsExactAndNormalised)
{
    std::vector<std::uint32_t> values;
    for (int bit = 0; bit < 32; ++bit) {
        const std::uint32_t p = std::uint32_t{1} << bit;
        values.insert(values.end(), {p, p | 1, p - 1, p | (p >> 1), ~p});
    }
    for (std::uint32_t v : values) {
        if (v == 0)
            continue;
        const auto b = extended_be(v);
        const int exponent = (b[0] & 0x7F) << 8 | b[1];
        std::uint64_t significand = 0;
        for (int i = 2; i < 10; ++i)
            significand = significand << 8 | b[static_cast<std::size_t>(i)];
        EXPECT_EQ(b[0] & 0x80, 0) << v;
        EXPECT_NE(significand >> 63, 0u) << v;
        ASSERT_GE(exponent, 16383) << v;
        ASSERT_LE(exponent, 16383 + 31) << v;
        const int shift = 63 - (exponent - 16383);
        EXPECT_EQ(significand >> shift, v) << v;
        EXPECT_EQ(significand & ((std::uint64_t{1} << shift) - 1), 0u) << v;
    }
}

// ---------------------------------------------------------------------------
// Output name

TEST(AifcOutputName, ReplacesTheTextAfterTheLastDot)
{
    const struct {
        const char* input;
        const char* output;
    } cases[] = {
        {"music.fda", "music.aifc"},
        {"MUSIC.FDA", "MUSIC.aifc"},
        {"a.b.fda", "a.b.aifc"},
        {"music", "music.aifc"},
        {"music.", "music.aifc"},
        {".fda", ".aifc"},
        {"music.aifc", "music.aifc"},
        {"x.y\\music", "x.y\\music.aifc"},
        {"x.y:music", "x.y:music.aifc"},
        {"dir\\music.fda", "dir\\music.aifc"},
        {"c:music.fda", "c:music.aifc"},
        {"a\\", "a\\.aifc"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(aifc_output_name(c.input), c.output) << c.input;
}

// A double-byte code page whose lead bytes are 0x81-0x9F and 0xE0-0xFC.
const char* next_double_byte(const char* p)
{
    const auto c = static_cast<unsigned char>(*p);
    if (c == 0)
        return p;
    const bool lead = (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
    return lead && p[1] != '\0' ? p + 2 : p + 1;
}

TEST(AifcOutputName, TrailByteOfADoubleByteCharacterIsNoSeparator)
{
    // 0x95 0x5C is one character; its second byte is the code of '\'.
    EXPECT_EQ(aifc_output_name("a.b\x95\x5C", next_double_byte), "a.aifc");
    EXPECT_EQ(aifc_output_name("a.b\x95\x5C", [](const char* p) { return *p ? p + 1 : p; }),
              "a.b\x95\x5C.aifc");
    EXPECT_EQ(aifc_output_name("\x95\x5C.fda", next_double_byte), "\x95\x5C.aifc");
}

// ---------------------------------------------------------------------------
// Checks before the output exists

FdaInfo worked_info()
{
    FdaInfo info;
    info.channels = 2;
    info.sample_size = 16;
    info.block_bits = 512;
    info.sample_rate = 44100;
    info.loop_begin = 0;
    info.loop_end = 1000;
    info.start_offset = 0;
    return info;
}

TEST(AifcCheck, ZeroBytesPerFrameIsAnInvalidFormat)
{
    const struct {
        std::uint32_t block_bits;
        std::uint32_t channels;
        AifcWriteError expected;
    } cases[] = {
        {7, 2, AifcWriteError::invalid_format},        // under one byte per block
        {0, 2, AifcWriteError::invalid_format},
        {512, 0, AifcWriteError::invalid_format},
        {524288, 65536, AifcWriteError::invalid_format},  // 65536 * 65536 wraps to 0
        {16, 0x80000000u, AifcWriteError::invalid_format}, // 2 * 2^31 wraps to 0
        {8, 1, AifcWriteError::none},
        {15, 1, AifcWriteError::none},
        {524288, 65535, AifcWriteError::none},
        {8, 0xFFFFFFFFu, AifcWriteError::none},
    };
    for (const auto& c : cases) {
        FdaStream stream;
        stream.info = worked_info();
        stream.info.block_bits = c.block_bits;
        stream.info.channels = c.channels;
        stream.payload_length = 256;
        EXPECT_EQ(check_aifc_stream(stream), c.expected) << c.block_bits << " x " << c.channels;
    }
}

TEST(AifcCheck, FormSizeMustFitIn32Bits)
{
    // FORM ckSize is 144 + L + (L odd).
    const struct {
        std::uint32_t payload_length;
        AifcWriteError expected;
    } cases[] = {
        {0, AifcWriteError::none},
        {4294967150u, AifcWriteError::none},       // 4294967294
        {4294967151u, AifcWriteError::too_large},  // 4294967296 with its pad
        {4294967152u, AifcWriteError::too_large},  // 4294967296
        {4294967295u, AifcWriteError::too_large},
    };
    for (const auto& c : cases) {
        FdaStream stream;
        stream.info = worked_info();
        stream.payload_length = c.payload_length;
        EXPECT_EQ(check_aifc_stream(stream), c.expected) << c.payload_length;
    }
}

TEST(AifcWriteErrorMessage, EachFailureHasItsText)
{
    EXPECT_STREQ(aifc_write_error_message(AifcWriteError::invalid_format), "Invalid stream format.");
    EXPECT_STREQ(aifc_write_error_message(AifcWriteError::too_large), "File too large.");
    EXPECT_STREQ(aifc_write_error_message(AifcWriteError::create_failed), "Error create file.");
    EXPECT_STREQ(aifc_write_error_message(AifcWriteError::write_failed), "Error write file.");
    EXPECT_STREQ(aifc_write_error_message(AifcWriteError::input_truncated), "File truncated.");
    EXPECT_STREQ(aifc_write_error_message(AifcWriteError::none), "");
}

// ---------------------------------------------------------------------------
// Writing real files

// The worked example's MARK chunk: loop_begin 0, loop_end 1000, start_offset 0.
const Bytes worked_mark = {
    0x4D, 0x41, 0x52, 0x4B,                                      // MARK ckID
    0x00, 0x00, 0x00, 0x36,                                      // MARK ckSize: 54
    0x00, 0x03,                                                  // numMarkers: 3
    0x00, 0x01,                                                  // MarkerId: 1
    0x00, 0x00, 0x00, 0x00,                                      // position: loop_begin 0
    0x08, 0x62, 0x65, 0x67, 0x20, 0x6C, 0x6F, 0x6F, 0x70, 0x00,  // "beg loop"
    0x00, 0x02,                                                  // MarkerId: 2
    0x00, 0x00, 0x03, 0xE8,                                      // position: loop_end 1000
    0x08, 0x65, 0x6E, 0x64, 0x20, 0x6C, 0x6F, 0x6F, 0x70, 0x00,  // "end loop"
    0x00, 0x03,                                                  // MarkerId: 3
    0x00, 0x00, 0x00, 0x00,                                      // position: start_offset 0
    0x0C, 0x73, 0x74, 0x61, 0x72, 0x74, 0x20,                    // "start offset"
    0x6F, 0x66, 0x66, 0x73, 0x65, 0x74, 0x00,
};

// Payload of 256 bytes: the 408-byte file.
const Bytes worked_header_256 = {
    0x46, 0x4F, 0x52, 0x4D,                                      // FORM ckID
    0x00, 0x00, 0x01, 0x90,                                      // FORM ckSize: 400
    0x41, 0x49, 0x46, 0x43,                                      // formType: "AIFC"
    0x46, 0x56, 0x45, 0x52,                                      // FVER ckID
    0x00, 0x00, 0x00, 0x04,                                      // FVER ckSize: 4
    0xA2, 0x80, 0x51, 0x40,                                      // timestamp
    0x43, 0x4F, 0x4D, 0x4D,                                      // COMM ckID
    0x00, 0x00, 0x00, 0x27,                                      // COMM ckSize: 39
    0x00, 0x02,                                                  // numChannels: 2
    0x00, 0x00, 0x00, 0x02,                                      // numSampleFrames: 256 / 128
    0x00, 0x10,                                                  // sampleSize: 16
    0x40, 0x0E, 0xAC, 0x44, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // sampleRate: 44100
    0x43, 0x4F, 0x4D, 0x50,                                      // compressionType: "COMP"
    0x10, 0x52, 0x65, 0x6C, 0x69, 0x63, 0x20, 0x43,              // compressionName: 16,
    0x6F, 0x64, 0x65, 0x63, 0x20, 0x76, 0x31, 0x2E, 0x36,        //   "Relic Codec v1.6"
    0x00,                                                        // pad byte, not counted
    0x53, 0x53, 0x4E, 0x44,                                      // SSND ckID
    0x00, 0x00, 0x01, 0x0A,                                      // SSND ckSize: 10 + 256
    0x00, 0x00, 0x00, 0x00,                                      // offset
    0x00, 0x00, 0x00, 0x00,                                      // blockSize
    0x02, 0x00,                                                  // blockBits: 512
};

// Payload of 255 bytes: one whole frame, and a pad byte after the payload.
const Bytes worked_header_255 = {
    0x46, 0x4F, 0x52, 0x4D,                                      // FORM ckID
    0x00, 0x00, 0x01, 0x90,                                      // FORM ckSize: 400
    0x41, 0x49, 0x46, 0x43,                                      // formType: "AIFC"
    0x46, 0x56, 0x45, 0x52,                                      // FVER ckID
    0x00, 0x00, 0x00, 0x04,                                      // FVER ckSize: 4
    0xA2, 0x80, 0x51, 0x40,                                      // timestamp
    0x43, 0x4F, 0x4D, 0x4D,                                      // COMM ckID
    0x00, 0x00, 0x00, 0x27,                                      // COMM ckSize: 39
    0x00, 0x02,                                                  // numChannels: 2
    0x00, 0x00, 0x00, 0x01,                                      // numSampleFrames: 255 / 128
    0x00, 0x10,                                                  // sampleSize: 16
    0x40, 0x0E, 0xAC, 0x44, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // sampleRate: 44100
    0x43, 0x4F, 0x4D, 0x50,                                      // compressionType: "COMP"
    0x10, 0x52, 0x65, 0x6C, 0x69, 0x63, 0x20, 0x43,              // compressionName: 16,
    0x6F, 0x64, 0x65, 0x63, 0x20, 0x76, 0x31, 0x2E, 0x36,        //   "Relic Codec v1.6"
    0x00,                                                        // pad byte, not counted
    0x53, 0x53, 0x4E, 0x44,                                      // SSND ckID
    0x00, 0x00, 0x01, 0x09,                                      // SSND ckSize: 10 + 255
    0x00, 0x00, 0x00, 0x00,                                      // offset
    0x00, 0x00, 0x00, 0x00,                                      // blockSize
    0x02, 0x00,                                                  // blockBits: 512
};

// No payload at all: a 152-byte file.
const Bytes worked_header_0 = {
    0x46, 0x4F, 0x52, 0x4D,                                      // FORM ckID
    0x00, 0x00, 0x00, 0x90,                                      // FORM ckSize: 144
    0x41, 0x49, 0x46, 0x43,                                      // formType: "AIFC"
    0x46, 0x56, 0x45, 0x52,                                      // FVER ckID
    0x00, 0x00, 0x00, 0x04,                                      // FVER ckSize: 4
    0xA2, 0x80, 0x51, 0x40,                                      // timestamp
    0x43, 0x4F, 0x4D, 0x4D,                                      // COMM ckID
    0x00, 0x00, 0x00, 0x27,                                      // COMM ckSize: 39
    0x00, 0x02,                                                  // numChannels: 2
    0x00, 0x00, 0x00, 0x00,                                      // numSampleFrames: 0
    0x00, 0x10,                                                  // sampleSize: 16
    0x40, 0x0E, 0xAC, 0x44, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // sampleRate: 44100
    0x43, 0x4F, 0x4D, 0x50,                                      // compressionType: "COMP"
    0x10, 0x52, 0x65, 0x6C, 0x69, 0x63, 0x20, 0x43,              // compressionName: 16,
    0x6F, 0x64, 0x65, 0x63, 0x20, 0x76, 0x31, 0x2E, 0x36,        //   "Relic Codec v1.6"
    0x00,                                                        // pad byte, not counted
    0x53, 0x53, 0x4E, 0x44,                                      // SSND ckID
    0x00, 0x00, 0x00, 0x0A,                                      // SSND ckSize: 10
    0x00, 0x00, 0x00, 0x00,                                      // offset
    0x00, 0x00, 0x00, 0x00,                                      // blockSize
    0x02, 0x00,                                                  // blockBits: 512
};

const Bytes pad_byte = {0x00};

// Memory that also remembers the largest read asked of it.
class WatchedSource final : public ByteSource {
public:
    explicit WatchedSource(const Bytes& data) : inner_(data.data(), data.size()) {}

    std::size_t read(void* buffer, std::size_t size) override
    {
        largest_read = std::max(largest_read, size);
        return inner_.read(buffer, size);
    }
    std::uint64_t remaining() const override { return inner_.remaining(); }
    bool skip(std::uint64_t count) override { return inner_.skip(count); }

    std::size_t largest_read = 0;

private:
    MemorySource inner_;
};

class AifcWrite : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::random_device random;
        for (;;) {
            dir_ = fs::temp_directory_path() / ("fernwick-aifc-" + std::to_string(random()));
            if (fs::create_directory(dir_))
                break;
        }
    }

    void TearDown() override
    {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    std::string path(const char* name) const { return (dir_ / name).string(); }

    // Creates the output and writes the stream into it.
    AifcWriteError convert(const std::string& name, const FdaInfo& info,
                           std::uint32_t payload_length, ByteSource& input)
    {
        FdaStream stream;
        stream.info = info;
        stream.payload_length = payload_length;
        stream.input = &input;
        if (AifcWriteError e = check_aifc_stream(stream); e != AifcWriteError::none)
            return e;
        platform::File output;
        if (AifcWriteError e = create_aifc_output(name, platform::File{}, output);
            e != AifcWriteError::none)
            return e;
        const AifcWriteError e = write_aifc(output, stream);
        platform::close_file(output);
        return e;
    }

    AifcWriteError convert(const std::string& name, const FdaInfo& info, const Bytes& payload)
    {
        MemorySource input(payload.data(), payload.size());
        return convert(name, info, static_cast<std::uint32_t>(payload.size()), input);
    }

    static Bytes read_back(const std::string& name)
    {
        platform::File file;
        if (!platform::open_input(name, file))
            return {};
        std::uint64_t size = 0;
        EXPECT_TRUE(platform::file_size(file, size));
        Bytes bytes(static_cast<std::size_t>(size));
        EXPECT_EQ(platform::read_file(file, bytes.data(), bytes.size()), bytes.size());
        platform::close_file(file);
        return bytes;
    }

    static void put_file(const std::string& name, const Bytes& bytes)
    {
        platform::File file;
        ASSERT_TRUE(platform::create_output(name, platform::File{}, file));
        ASSERT_TRUE(platform::write_file(file, bytes.data(), bytes.size()));
        platform::close_file(file);
    }

    fs::path dir_;
};

TEST_F(AifcWrite, WorkedExamples)
{
    const Bytes payload_256 = pattern(256);
    const Bytes payload_255 = pattern(255);
    const Bytes empty;
    const struct {
        const Bytes* payload;
        Bytes file;
    } cases[] = {
        {&payload_256, concat({&worked_header_256, &payload_256, &worked_mark})},
        {&payload_255, concat({&worked_header_255, &payload_255, &pad_byte, &worked_mark})},
        {&empty, concat({&worked_header_0, &worked_mark})},
    };
    ASSERT_EQ(cases[0].file.size(), 408u);
    ASSERT_EQ(cases[1].file.size(), 408u);
    ASSERT_EQ(cases[2].file.size(), 152u);

    for (const auto& c : cases) {
        SCOPED_TRACE(c.payload->size());
        const std::string out = path("music.aifc");
        ASSERT_EQ(convert(out, worked_info(), *c.payload), AifcWriteError::none);
        EXPECT_EQ(read_back(out), c.file);
        // The independent builder agrees, so it can stand in for larger cases.
        EXPECT_EQ(expected_aifc_file(worked_info(), *c.payload), c.file);
    }
}

TEST_F(AifcWrite, SixteenBitFieldsKeepTheLowBitsWhileTheFrameCountUsesAll)
{
    FdaInfo wide = worked_info();
    wide.channels = 65538;         // numChannels 2, but 64 * 65538 bytes per frame
    wide.sample_size = 65552;      // sampleSize 16
    FdaInfo odd_bits = worked_info();
    odd_bits.block_bits = 515;     // blockBits 02 03, 64 bytes per channel
    odd_bits.channels = 3;

    const struct {
        FdaInfo info;
        std::size_t payload_length;
        Bytes num_channels;        // offset 32
        Bytes num_sample_frames;   // offset 34
        Bytes sample_size;         // offset 38
        Bytes block_bits;          // offset 88
    } cases[] = {
        {wide, 2 * 64 * 65538 + 1, {0x00, 0x02}, {0x00, 0x00, 0x00, 0x02}, {0x00, 0x10}, {0x02, 0x00}},
        {odd_bits, 2 * 64 * 3, {0x00, 0x03}, {0x00, 0x00, 0x00, 0x02}, {0x00, 0x10}, {0x02, 0x03}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.payload_length);
        const Bytes payload = pattern(c.payload_length);
        const std::string out = path("wide.aifc");
        ASSERT_EQ(convert(out, c.info, payload), AifcWriteError::none);
        const Bytes file = read_back(out);
        ASSERT_GE(file.size(), 90u);
        EXPECT_EQ(Bytes(file.begin() + 32, file.begin() + 34), c.num_channels);
        EXPECT_EQ(Bytes(file.begin() + 34, file.begin() + 38), c.num_sample_frames);
        EXPECT_EQ(Bytes(file.begin() + 38, file.begin() + 40), c.sample_size);
        EXPECT_EQ(Bytes(file.begin() + 88, file.begin() + 90), c.block_bits);
        EXPECT_TRUE(file == expected_aifc_file(c.info, payload));
    }
}

// Lengths around the copy buffer: the header shares the first block, MARK
// the last, and either may have to move to a block of its own.
TEST_F(AifcWrite, PayloadAcrossCopyBufferBoundaries)
{
    constexpr std::size_t block = aifc_copy_buffer_size;
    const std::size_t lengths[] = {
        block - 90 - 63, block - 90 - 62, block - 90 - 61, block - 90 - 1,
        block - 90,      block - 89,      block,           block + 1,
        3 * block - 90,  3 * block + 7,
    };
    FdaInfo info = worked_info();
    info.loop_begin = 0x01020304;
    info.start_offset = 0xFFFFFFFF;

    for (std::size_t length : lengths) {
        SCOPED_TRACE(length);
        const Bytes payload = pattern(length);
        Bytes input_bytes = payload;
        input_bytes.insert(input_bytes.end(), {0xEE, 0xEE, 0xEE}); // past the payload
        WatchedSource input(input_bytes);

        const std::string out = path("big.aifc");
        alloc_counter::reset();
        ASSERT_EQ(convert(out, info, static_cast<std::uint32_t>(length), input),
                  AifcWriteError::none);
        EXPECT_LE(alloc_counter::since_reset().largest, block) << "no payload-sized buffer";
        EXPECT_LE(input.largest_read, block) << "the payload is streamed";
        EXPECT_EQ(input.remaining(), 3u) << "reads stop at the payload's end";
        EXPECT_TRUE(read_back(out) == expected_aifc_file(info, payload));
    }
}

TEST_F(AifcWrite, ReplacesAnExistingOutput)
{
    const std::string out = path("music.aifc");
    put_file(out, Bytes(5000, 0xAB));
    const Bytes payload = pattern(256);
    ASSERT_EQ(convert(out, worked_info(), payload), AifcWriteError::none);
    EXPECT_EQ(read_back(out), concat({&worked_header_256, &payload, &worked_mark}));
}

TEST_F(AifcWrite, RefusedStreamWritesNothing)
{
    FdaInfo no_frame = worked_info();
    no_frame.block_bits = 7;
    const struct {
        FdaInfo info;
        std::uint32_t payload_length;
        AifcWriteError expected;
    } cases[] = {
        {no_frame, 256, AifcWriteError::invalid_format},
        {worked_info(), 0xFFFFFFFFu, AifcWriteError::too_large},
    };
    for (const auto& c : cases) {
        const std::string out = path("refused.aifc");
        platform::File output;
        ASSERT_TRUE(platform::create_output(out, platform::File{}, output));
        const Bytes payload = pattern(256);
        MemorySource input(payload.data(), payload.size());
        FdaStream stream;
        stream.info = c.info;
        stream.payload_length = c.payload_length;
        stream.input = &input;
        EXPECT_EQ(write_aifc(output, stream), c.expected);
        platform::close_file(output);
        EXPECT_TRUE(read_back(out).empty());
        EXPECT_EQ(input.remaining(), payload.size());
    }
}

TEST_F(AifcWrite, ShortPayloadReadIsATruncatedInput)
{
    constexpr std::size_t block = aifc_copy_buffer_size;
    const struct {
        std::size_t promised;
        std::size_t delivered;
    } cases[] = {
        {256, 0},
        {256, 255},
        {block, block - 90},          // first block full, second one short
        {3 * block, 2 * block + 5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.promised);
        const Bytes payload = pattern(c.delivered);
        MemorySource input(payload.data(), payload.size());
        EXPECT_EQ(convert(path("short.aifc"), worked_info(), static_cast<std::uint32_t>(c.promised),
                          input),
                  AifcWriteError::input_truncated);
    }
}

// A source that lends in a fixed cycle of sizes; a size of 0 refuses, and
// the writer then reads that part through its buffer.
class PatchySource final : public ByteSource {
public:
    PatchySource(const Bytes& data, std::vector<std::size_t> cycle)
        : inner_(data.data(), data.size()), cycle_(std::move(cycle)) {}

    std::size_t read(void* buffer, std::size_t size) override { return inner_.read(buffer, size); }
    std::uint64_t remaining() const override { return inner_.remaining(); }
    bool skip(std::uint64_t count) override { return inner_.skip(count); }
    platform::Piece lend(std::size_t size) override
    {
        const std::size_t n = cycle_[next_++ % cycle_.size()];
        return n == 0 ? platform::Piece{} : inner_.lend(std::min(n, size));
    }

private:
    MemorySource inner_;
    std::vector<std::size_t> cycle_;
    std::size_t next_ = 0;
};

// Lent pieces are written in place, copied ones through the buffer; any mix
// of the two must give the same file, the header in front and MARK behind.
TEST_F(AifcWrite, LentAndCopiedPiecesMakeTheSameFile)
{
    constexpr std::size_t block = aifc_copy_buffer_size;
    const std::size_t lengths[] = {0, 1, 255, block - 90 - 1, block + 1, 3 * block + 7};
    const std::vector<std::size_t> cycles[] = {
        {0},                        // all through the buffer
        {~std::size_t{0}},          // all lent at once
        {1, 0, 7, 0, 100000},
        {0, block, 3},
        {block - 90, 0},
    };
    FdaInfo info = worked_info();
    info.loop_end = 0x0A0B0C0D;

    for (std::size_t length : lengths) {
        const Bytes payload = pattern(length);
        Bytes input_bytes = payload;
        input_bytes.insert(input_bytes.end(), {0xEE, 0xEE, 0xEE}); // past the payload
        for (const auto& cycle : cycles) {
            SCOPED_TRACE(testing::Message() << length << " bytes, lending " << cycle.front()
                                            << " first of " << cycle.size());
            PatchySource input(input_bytes, cycle);
            const std::string out = path("patchy.aifc");
            ASSERT_EQ(convert(out, info, static_cast<std::uint32_t>(length), input),
                      AifcWriteError::none);
            EXPECT_EQ(input.remaining(), 3u) << "the payload's end is where it stops";
            EXPECT_TRUE(read_back(out) == expected_aifc_file(info, payload));
        }
    }
}

// A file open for reading only refuses every write, lent or copied.
TEST_F(AifcWrite, FailedWriteIsReported)
{
    const std::string name = path("readonly.aifc");
    put_file(name, {});
    const struct {
        std::size_t length;
        bool lend;
    } cases[] = {
        {256, false}, {3 * aifc_copy_buffer_size, false},
        {256, true},  {3 * aifc_copy_buffer_size, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.length << (c.lend ? " lent" : " copied"));
        platform::File read_only;
        ASSERT_TRUE(platform::open_input(name, read_only));
        const Bytes payload = pattern(c.length);
        MemorySource lending(payload.data(), payload.size());
        WatchedSource copying(payload);
        ByteSource& input = c.lend ? static_cast<ByteSource&>(lending) : copying;
        FdaStream stream;
        stream.info = worked_info();
        stream.payload_length = static_cast<std::uint32_t>(c.length);
        stream.input = &input;
        EXPECT_EQ(write_aifc(read_only, stream), AifcWriteError::write_failed);
        platform::close_file(read_only);
        if (!c.lend && c.length > aifc_copy_buffer_size) {
            EXPECT_GT(input.remaining(), 0u) << "the copy stops at the first failed write";
        }
    }
}

#ifndef _WIN32
// Cuts its file right after one of its lends, as another program might
// while the window is mapped and before the writer has written it.
class CuttingSource final : public ByteSource {
public:
    CuttingSource(platform::File file, std::string path, int cut_after, std::uint64_t cut_to)
        : inner_(file), path_(std::move(path)), cut_after_(cut_after), cut_to_(cut_to) {}

    std::size_t read(void* buffer, std::size_t size) override { return inner_.read(buffer, size); }
    std::uint64_t remaining() const override { return inner_.remaining(); }
    bool skip(std::uint64_t count) override { return inner_.skip(count); }
    platform::Piece lend(std::size_t size) override
    {
        const platform::Piece piece = inner_.lend(size);
        if (++lends_ == cut_after_) {
            EXPECT_EQ(truncate(path_.c_str(), static_cast<off_t>(cut_to_)), 0);
        }
        return piece;
    }
    bool lent_intact() const override { return inner_.lent_intact(); }

private:
    FileSource inner_;
    std::string path_;
    int cut_after_;
    std::uint64_t cut_to_;
    int lends_ = 0;
};

// Reading a mapped page past the end of a cut file would kill the process;
// a write from it fails instead, and a cut inside the last page, which
// reads as zeros, is caught after the write.
TEST_F(AifcWrite, InputCutWhileLentIsATruncatedInput)
{
    constexpr std::size_t window = FileSource::lend_window;
    const std::size_t length = 2 * window;  // two lent windows
    const Bytes payload = pattern(length);
    Bytes file_bytes = payload;
    file_bytes.insert(file_bytes.end(), 100, 0xEE);  // past the payload

    const struct {
        const char* what;
        int cut_after;            // lend number, from 1
        std::uint64_t cut_to;
        AifcWriteError expected;
    } cases[] = {
        {"inside the first window", 1, 5000, AifcWriteError::input_truncated},
        {"at a page boundary of the second", 2, window + 3 * 4096, AifcWriteError::input_truncated},
        {"inside the last page", 2, length - 10, AifcWriteError::input_truncated},
        {"to the payload's end", 2, length, AifcWriteError::none},
        {"never", 0, 0, AifcWriteError::none},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string in = path("cut.fda");
        put_file(in, file_bytes);
        platform::File input;
        ASSERT_TRUE(platform::open_input(in, input));
        CuttingSource source(input, in, c.cut_after, c.cut_to);
        const std::string out = path("cut.aifc");
        EXPECT_EQ(convert(out, worked_info(), static_cast<std::uint32_t>(length), source),
                  c.expected);
        if (c.expected == AifcWriteError::none) {
            EXPECT_TRUE(read_back(out) == expected_aifc_file(worked_info(), payload));
        }
        platform::close_file(input);
    }
}
#endif

// Which outputs the system refuses (read-only ones too) is the platform's
// business; here the refusal must come back as a value.
TEST_F(AifcWrite, OutputThatCannotBeCreated)
{
    const Bytes original = pattern(100);

    // The open input under the output's name stays intact.
    const std::string input_name = path("music.aifc");
    put_file(input_name, original);
    platform::File input;
    ASSERT_TRUE(platform::open_input(input_name, input));
    platform::File output;
    EXPECT_EQ(create_aifc_output(input_name, input, output), AifcWriteError::create_failed);
    EXPECT_FALSE(output.is_open());
    platform::close_file(output);
    platform::close_file(input);
    EXPECT_EQ(read_back(input_name), original);

    // Nowhere to put it.
    EXPECT_EQ(create_aifc_output(path("missing/music.aifc"), platform::File{}, output),
              AifcWriteError::create_failed);
    EXPECT_FALSE(output.is_open());
    platform::close_file(output);
}

} // namespace

#include "aifc/aifc.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <memory>
#include <string>

namespace {

constexpr std::uint32_t text_length(const char* text)
{
    return static_cast<std::uint32_t>(std::char_traits<char>::length(text));
}

// A count byte and the text.
constexpr std::uint32_t pstring_size(const char* text) { return 1 + text_length(text); }

constexpr std::uint32_t even(std::uint32_t size) { return size + (size & 1); }

constexpr std::uint32_t aifc_version_1 = 0xA2805140;
constexpr const char* compression_type = "COMP";
constexpr const char* compression_name = "Relic Codec v1.6";

struct Marker {
    std::uint16_t id;
    const char* name;
};
constexpr Marker loop_begin_marker{1, "beg loop"};
constexpr Marker loop_end_marker{2, "end loop"};
constexpr Marker start_offset_marker{3, "start offset"};

constexpr std::uint32_t chunk_header_size = 4 + 4;  // ckID, ckSize
constexpr std::uint32_t form_type_size = 4;
constexpr std::uint32_t fver_size = 4;              // timestamp
// numChannels, numSampleFrames, sampleSize, sampleRate, compressionType,
// then compressionName. The name's even pad follows as the chunk's pad
// byte, outside ckSize.
constexpr std::uint32_t comm_size = 2 + 4 + 2 + 10 + 4 + pstring_size(compression_name);
// offset, blockSize, and blockBits in front of the payload.
constexpr std::uint32_t ssnd_fixed_size = 4 + 4 + 2;
// A marker's name is padded to even length inside the marker, so it counts.
constexpr std::uint32_t marker_size(const Marker& m) { return 2 + 4 + even(pstring_size(m.name)); }
constexpr std::uint32_t mark_size = 2 + marker_size(loop_begin_marker) +
                                    marker_size(loop_end_marker) +
                                    marker_size(start_offset_marker);

// Everything before the payload, and the MARK chunk after it.
constexpr std::uint32_t header_size = chunk_header_size + form_type_size +
                                      chunk_header_size + fver_size +
                                      chunk_header_size + even(comm_size) +
                                      chunk_header_size + ssnd_fixed_size;
constexpr std::uint32_t mark_chunk_size = chunk_header_size + mark_size;

// The header and MARK must fit beside at least one payload byte.
static_assert(aifc_copy_buffer_size > header_size + 1 + mark_chunk_size);

// Bytes after the FORM ckSize, pad bytes included.
constexpr std::uint64_t form_size(std::uint32_t payload_length)
{
    return std::uint64_t{header_size} - chunk_header_size + payload_length +
           (payload_length & 1) + mark_chunk_size;
}

// Whole bytes per block per channel, times channels, in 32 bits.
std::uint32_t frame_divisor(const FdaInfo& info)
{
    return (info.block_bits >> 3) * info.channels;
}

// Lays out fields one after another in a byte buffer, in file order.
class FieldWriter {
public:
    explicit FieldWriter(unsigned char* at) : p_(at) {}

    template <std::size_t N>
    void bytes(const std::array<unsigned char, N>& b)
    {
        std::memcpy(p_, b.data(), N);
        p_ += N;
    }
    void u16(std::uint32_t value) { bytes(swap16(static_cast<std::uint16_t>(value))); }
    void u32(std::uint32_t value) { bytes(swap32(value)); }
    void code(const char* id)
    {
        std::memcpy(p_, id, 4);
        p_ += 4;
    }
    void chunk(const char* id, std::uint32_t size)
    {
        code(id);
        u32(size);
    }
    void pstring(const char* text)
    {
        const std::uint32_t n = text_length(text);
        *p_++ = static_cast<unsigned char>(n);
        std::memcpy(p_, text, n);
        p_ += n;
    }
    void zero() { *p_++ = 0; }
    unsigned char* end() const { return p_; }

private:
    unsigned char* p_;
};

// FORM (ckSize 0 until the end) through blockBits.
std::size_t put_header(unsigned char* at, const FdaInfo& info, std::uint32_t payload_length)
{
    FieldWriter w(at);
    w.chunk("FORM", 0);
    w.code("AIFC");

    w.chunk("FVER", fver_size);
    w.u32(aifc_version_1);

    w.chunk("COMM", comm_size);
    w.u16(info.channels);
    w.u32(payload_length / frame_divisor(info));  // numSampleFrames: whole frames only
    w.u16(info.sample_size);
    w.bytes(extended_be(info.sample_rate));
    w.code(compression_type);
    w.pstring(compression_name);
    if (comm_size & 1)
        w.zero();

    w.chunk("SSND", ssnd_fixed_size + payload_length);
    w.u32(0);  // offset
    w.u32(0);  // blockSize
    w.u16(info.block_bits);

    const auto size = static_cast<std::size_t>(w.end() - at);
    assert(size == header_size);
    return size;
}

void put_marker(FieldWriter& w, const Marker& marker, std::uint32_t position)
{
    w.u16(marker.id);
    w.u32(position);
    w.pstring(marker.name);
    if (pstring_size(marker.name) & 1)
        w.zero();
}

std::size_t put_mark(unsigned char* at, const FdaInfo& info)
{
    FieldWriter w(at);
    w.chunk("MARK", mark_size);
    w.u16(3);  // numMarkers
    put_marker(w, loop_begin_marker, info.loop_begin);
    put_marker(w, loop_end_marker, info.loop_end);
    put_marker(w, start_offset_marker, info.start_offset);

    const auto size = static_cast<std::size_t>(w.end() - at);
    assert(size == mark_chunk_size);
    return size;
}

// The FORM header again, sized by what the file really holds.
AifcWriteError rewrite_form_header(platform::File output)
{
    std::uint64_t file_size = 0;
    if (!platform::seek_file(output, 0) || !platform::file_size(output, file_size) ||
        file_size < chunk_header_size || file_size - chunk_header_size > 0xFFFFFFFFu)
        return AifcWriteError::write_failed;

    unsigned char header[chunk_header_size];
    FieldWriter w(header);
    w.chunk("FORM", static_cast<std::uint32_t>(file_size - chunk_header_size));
    return platform::write_file(output, header, sizeof header) ? AifcWriteError::none
                                                               : AifcWriteError::write_failed;
}

} // namespace

std::array<unsigned char, 2> swap16(std::uint16_t value)
{
    return {static_cast<unsigned char>(value >> 8), static_cast<unsigned char>(value)};
}

std::array<unsigned char, 4> swap32(std::uint32_t value)
{
    return {static_cast<unsigned char>(value >> 24), static_cast<unsigned char>(value >> 16),
            static_cast<unsigned char>(value >> 8), static_cast<unsigned char>(value)};
}

std::array<unsigned char, 10> extended_be(std::uint32_t value)
{
    std::array<unsigned char, 10> bytes{};
    if (value == 0)
        return bytes;  // zero has exponent 0, not the bias

    int top = 31;
    while (((value >> top) & 1) == 0)
        --top;
    const std::uint32_t exponent = 16383 + static_cast<std::uint32_t>(top);
    // The integer bit is explicit: normalise it into bit 63.
    const std::uint64_t significand = std::uint64_t{value} << (63 - top);

    bytes[0] = static_cast<unsigned char>(exponent >> 8);  // sign bit stays 0
    bytes[1] = static_cast<unsigned char>(exponent);
    for (int i = 0; i < 8; ++i)
        bytes[2 + i] = static_cast<unsigned char>(significand >> (56 - 8 * i));
    return bytes;
}

const char* aifc_write_error_message(AifcWriteError error)
{
    switch (error) {
    case AifcWriteError::none:            return "";
    case AifcWriteError::invalid_format:  return "Invalid stream format.";
    case AifcWriteError::too_large:       return "File too large.";
    case AifcWriteError::create_failed:   return "Error create file.";
    case AifcWriteError::write_failed:    return "Error write file.";
    case AifcWriteError::input_truncated: return fda_read_error_message(FdaReadError::truncated);
    }
    return "";
}

std::string aifc_output_name(const std::string& input_name, const char* (*next)(const char*))
{
    // Stepping forward by characters finds the same last separator as a
    // backward scan, without mistaking a trail byte for one.
    const char* const name = input_name.c_str();
    const char* last = nullptr;
    for (const char* p = name; *p != '\0'; p = next(p)) {
        if (*p == '.' || *p == '\\' || *p == ':')
            last = p;
    }
    const std::size_t keep = last != nullptr && *last == '.' ? static_cast<std::size_t>(last - name)
                                                             : std::char_traits<char>::length(name);
    return input_name.substr(0, keep) + ".aifc";
}

AifcWriteError check_aifc_stream(const FdaStream& stream)
{
    if (frame_divisor(stream.info) == 0)
        return AifcWriteError::invalid_format;
    if (form_size(stream.payload_length) > 0xFFFFFFFFu)
        return AifcWriteError::too_large;
    return AifcWriteError::none;
}

AifcWriteError create_aifc_output(const std::string& name, platform::File input,
                                  platform::File& output)
{
    return platform::create_output(name, input, output) ? AifcWriteError::none
                                                        : AifcWriteError::create_failed;
}

AifcWriteError write_aifc(platform::File output, const FdaStream& stream)
{
    if (AifcWriteError e = check_aifc_stream(stream); e != AifcWriteError::none)
        return e;

    // One fixed buffer: the header rides in front of the first payload
    // bytes and MARK behind the last, so a small file is a single write.
    // Left uninitialised: only the bytes put into it are written, and
    // zeroing it for every file showed in profiles of large batches.
    const std::unique_ptr<unsigned char[]> buffer(new unsigned char[aifc_copy_buffer_size]);
    unsigned char* const data = buffer.get();
    constexpr std::size_t capacity = aifc_copy_buffer_size;
    std::size_t used = put_header(data, stream.info, stream.payload_length);

    // The payload's pad byte and MARK, which follow its last byte.
    unsigned char tail[1 + mark_chunk_size];
    std::size_t tail_size = 0;
    if (stream.payload_length & 1)
        tail[tail_size++] = 0;
    tail_size += put_mark(tail + tail_size, stream.info);
    bool tail_written = false;

    auto write = [&](const platform::Piece* pieces, std::size_t count) {
        used = 0;
        switch (platform::write_pieces(output, pieces, count)) {
        case platform::WriteStatus::ok:                return AifcWriteError::none;
        case platform::WriteStatus::failed:            return AifcWriteError::write_failed;
        case platform::WriteStatus::source_unreadable: return AifcWriteError::input_truncated;
        }
        return AifcWriteError::write_failed;
    };

    std::uint32_t left = stream.payload_length;
    while (left != 0) {
        if (stream.input == nullptr)
            return AifcWriteError::input_truncated;

        // Lent bytes go from the source to the file without a copy, behind
        // what the buffer holds and, when they are the last, before the tail.
        const platform::Piece lent = stream.input->lend(left);
        if (lent.size != 0) {
            left -= static_cast<std::uint32_t>(lent.size);
            tail_written = left == 0;
            const platform::Piece pieces[] = {
                {data, used}, lent, {tail, tail_written ? tail_size : 0}};
            if (AifcWriteError e = write(pieces, 3); e != AifcWriteError::none)
                return e;
            continue;
        }

        const std::size_t want = std::min<std::size_t>(left, capacity - used);
        if (stream.input->read(data + used, want) != want)
            return AifcWriteError::input_truncated;
        used += want;
        left -= static_cast<std::uint32_t>(want);
        if (used == capacity) {
            const platform::Piece piece{data, used};
            if (AifcWriteError e = write(&piece, 1); e != AifcWriteError::none)
                return e;
        }
    }

    if (!tail_written) {
        if (capacity - used >= tail_size) {
            std::memcpy(data + used, tail, tail_size);
            used += tail_size;
            tail_size = 0;
        }
        const platform::Piece pieces[] = {{data, used}, {tail, tail_size}};
        if (AifcWriteError e = write(pieces, 2); e != AifcWriteError::none)
            return e;
    }
    if (stream.input != nullptr && !stream.input->lent_intact())
        return AifcWriteError::input_truncated;

    return rewrite_form_header(output);
}

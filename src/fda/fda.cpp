#include "fda/fda.h"

#include <cstring>

namespace {

constexpr char relic_chunky_magic[12] = {'R', 'e', 'l', 'i', 'c', ' ', 'C', 'h', 'u', 'n', 'k', 'y'};

std::uint32_t le32(const unsigned char* p)
{
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// Every record must come whole: a short read ends the file as truncated.
bool read_exact(ByteSource& input, void* buffer, std::size_t size)
{
    return input.read(buffer, size) == size;
}

bool read_le32(ByteSource& input, std::uint32_t& value)
{
    unsigned char b[4];
    if (!read_exact(input, b, sizeof b))
        return false;
    value = le32(b);
    return true;
}

// Names and texts are never used: pass over them by position, after making
// sure the file holds them, so no length field ever sizes a buffer.
bool skip_exact(ByteSource& input, std::uint32_t count)
{
    return count <= input.remaining() && input.skip(count);
}

// An FBIF body: text1_length, text1, value, text2_length, text2,
// text3_length, text3.
FdaReadError read_fbif_body(ByteSource& input)
{
    std::uint32_t length;
    if (!read_le32(input, length) || !skip_exact(input, length))
        return FdaReadError::truncated;
    std::uint32_t value;
    if (!read_le32(input, value))
        return FdaReadError::truncated;
    for (int text = 2; text <= 3; ++text) {
        if (!read_le32(input, length) || !skip_exact(input, length))
            return FdaReadError::truncated;
    }
    return FdaReadError::none;
}

FdaReadError read_chunk(ByteSource& input, ChunkHeader& header, const char* code,
                        FdaReadError mismatch)
{
    if (FdaReadError e = read_chunk_header(input, header); e != FdaReadError::none)
        return e;
    return chunk_id_is(header, code) ? FdaReadError::none : mismatch;
}

} // namespace

const char* fda_read_error_message(FdaReadError error)
{
    switch (error) {
    case FdaReadError::none:             return "";
    case FdaReadError::not_relic_chunky: return "File not Relic Chunky.";
    case FdaReadError::no_fbif_chunk:    return "Not found FBIF chunk.";
    case FdaReadError::not_fda:          return "File not FDA.";
    case FdaReadError::no_info_chunk:    return "Not found INFO chunk.";
    case FdaReadError::no_data_chunk:    return "Not found DATA chunk.";
    case FdaReadError::truncated:        return "File truncated.";
    }
    return "";
}

std::uint32_t ChunkHeader::name_length() const
{
    return le32(bytes + name_length_offset);
}

bool is_relic_chunky(const unsigned char* magic)
{
    return std::memcmp(magic, relic_chunky_magic, sizeof relic_chunky_magic) == 0;
}

FdaReadError read_chunk_header(ByteSource& input, ChunkHeader& header)
{
    if (!read_exact(input, header.bytes, sizeof header.bytes))
        return FdaReadError::truncated;
    if (!skip_exact(input, header.name_length()))
        return FdaReadError::truncated;
    return FdaReadError::none;
}

bool chunk_id_is(const ChunkHeader& header, const char* code)
{
    return std::memcmp(header.bytes + ChunkHeader::id_offset, code, 4) == 0;
}

// The 24-byte file header. Fewer than 12 bytes cannot be "Relic Chunky";
// twelve that are, without the rest of the header, are a truncated file.
static FdaReadError read_chunky_file_header(ByteSource& input)
{
    unsigned char header[24];
    const std::size_t got = input.read(header, sizeof header);
    if (got < sizeof relic_chunky_magic || !is_relic_chunky(header))
        return FdaReadError::not_relic_chunky;
    if (got < sizeof header)
        return FdaReadError::truncated;
    return FdaReadError::none;
}

FdaReadError read_fda_stream(ByteSource& input, FdaStream& stream)
{
    ChunkHeader header;
    FdaReadError e;

    if ((e = read_chunky_file_header(input)) != FdaReadError::none)
        return e;
    if ((e = read_chunk(input, header, "FBIF", FdaReadError::no_fbif_chunk)) != FdaReadError::none)
        return e;
    if ((e = read_fbif_body(input)) != FdaReadError::none)
        return e;
    if ((e = read_chunk(input, header, "FDA ", FdaReadError::not_fda)) != FdaReadError::none)
        return e;
    if ((e = read_chunk(input, header, "INFO", FdaReadError::no_info_chunk)) != FdaReadError::none)
        return e;

    unsigned char body[28];
    if (!read_exact(input, body, sizeof body))
        return FdaReadError::truncated;
    FdaInfo info;
    info.channels = le32(body);
    info.sample_size = le32(body + 4);
    info.block_bits = le32(body + 8);
    info.sample_rate = le32(body + 12);
    info.loop_begin = le32(body + 16);
    info.loop_end = le32(body + 20);
    info.start_offset = le32(body + 24);

    if ((e = read_chunk(input, header, "DATA", FdaReadError::no_data_chunk)) != FdaReadError::none)
        return e;
    std::uint32_t payload_length;
    if (!read_le32(input, payload_length))
        return FdaReadError::truncated;
    // The writer copies exactly this many bytes: they must all be there.
    if (payload_length > input.remaining())
        return FdaReadError::truncated;

    stream.info = info;
    stream.payload_length = payload_length;
    stream.input = &input;
    return FdaReadError::none;
}

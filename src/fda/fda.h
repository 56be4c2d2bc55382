// Reader for FDA streams in the "Relic Chunky" container: checks the chunk
// sequence FBIF, "FDA ", INFO, DATA and stops at the first coded byte.
#pragma once

#include <cstdint>

#include "fda/byte_source.h"

// The 20 fixed bytes of a chunk header, kept as read. The name that follows
// them is passed over, never stored.
struct ChunkHeader {
    unsigned char bytes[20] = {};

    static constexpr int id_offset = 4;
    static constexpr int name_length_offset = 16;

    std::uint32_t name_length() const;
};

// The 28-byte body of the INFO chunk.
struct FdaInfo {
    std::uint32_t channels = 0;
    std::uint32_t sample_size = 0;
    std::uint32_t block_bits = 0;     // bits per coded block per channel
    std::uint32_t sample_rate = 0;    // Hz
    std::uint32_t loop_begin = 0;
    std::uint32_t loop_end = 0;
    std::uint32_t start_offset = 0;
};

// What a successful read yields: the input stands at the first payload byte,
// and the reader has checked that all payload_length bytes are there.
struct FdaStream {
    FdaInfo info;
    std::uint32_t payload_length = 0;
    ByteSource* input = nullptr;
};

// The reader's failures, in the order of its tests; `truncated` can end the
// read at any record that the file cannot supply whole.
enum class FdaReadError {
    none,
    not_relic_chunky,
    no_fbif_chunk,
    not_fda,
    no_info_chunk,
    no_data_chunk,
    truncated,
};

const char* fda_read_error_message(FdaReadError error);

// Whether the 12 bytes at `magic` are "Relic Chunky", case-sensitive.
bool is_relic_chunky(const unsigned char* magic);

// Reads the next chunk header and passes over its name.
FdaReadError read_chunk_header(ByteSource& input, ChunkHeader& header);

// Whether the header's id is the four characters of `code`, exactly.
bool chunk_id_is(const ChunkHeader& header, const char* code);

// Reads from the start of `input` up to and including payload_length. On
// success `stream` holds the info, the length and `input`.
FdaReadError read_fda_stream(ByteSource& input, FdaStream& stream);

// Writes FDA files from their fields, independently of the reader, so that
// tests can build valid, damaged and odd files byte by byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "fda/fda.h"

namespace fixture {

std::string le32(std::uint32_t value);

// The 24-byte file header: the 12 magic bytes, then 12 bytes nobody reads.
std::string chunky_header(const std::string& magic = "Relic Chunky");

// A 20-byte chunk header and its name. `name_length` overrides the count
// written into the header (to claim more or fewer bytes than follow).
std::string chunk_header(const std::string& id, const std::string& name = "",
                         std::optional<std::uint32_t> name_length = std::nullopt);

struct Info {
    std::uint32_t channels = 2;
    std::uint32_t sample_size = 16;
    std::uint32_t block_bits = 512;
    std::uint32_t sample_rate = 44100;
    std::uint32_t loop_begin = 0;
    std::uint32_t loop_end = 1000;
    std::uint32_t start_offset = 0;
};

std::string info_body(const Info& info);

// The same fields as the reader's record.
FdaInfo fda_info(const Info& info);

// Every field of an FDA file. The defaults make a valid file without names
// or texts, with an empty payload.
struct FdaFields {
    std::string magic = "Relic Chunky";
    std::string ids[4] = {"FBIF", "FDA ", "INFO", "DATA"};
    std::string names[4];
    std::string text1, text2, text3;
    std::uint32_t value = 0;
    // Overrides of the counts written before the texts.
    std::optional<std::uint32_t> text_lengths[3];
    Info info;
    std::string payload;
    std::optional<std::uint32_t> payload_length; // default: payload.size()
    std::size_t cut = std::string::npos;          // keep only this many bytes
};

std::string fda_bytes(const FdaFields& fields);

// Offset of the first payload byte in fda_bytes(fields) (no cut, no
// overrides): 152 plus the name and text lengths.
std::size_t payload_offset(const FdaFields& fields);

// A valid file with names on all four chunks and three FBIF texts.
FdaFields rich_fields(std::size_t payload_size = 256);

// Deterministic bytes for payloads.
std::string pattern_bytes(std::size_t size, unsigned seed = 1);

bool write_file(const std::string& path, const std::string& bytes);
std::string read_file(const std::string& path);

} // namespace fixture

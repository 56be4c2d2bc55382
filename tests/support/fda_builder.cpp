#include "support/fda_builder.h"

#include <fstream>
#include <iterator>

namespace fixture {

std::string le32(std::uint32_t value)
{
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i)
        s[static_cast<std::size_t>(i)] = static_cast<char>((value >> (8 * i)) & 0xFF);
    return s;
}

std::string chunky_header(const std::string& magic)
{
    std::string s = magic;
    s.resize(12, '\0');
    // Bytes 12 to 23 carry whatever a tool put there; make them non-zero.
    return s + std::string("\r\n\x1a\0\1\0\0\0\1\0\0\0", 12);
}

std::string chunk_header(const std::string& id, const std::string& name,
                         std::optional<std::uint32_t> name_length)
{
    std::string code = id;
    code.resize(4, '\0');
    // Bytes 0-3 and 8-15 are not read; fill them with noise.
    return std::string("DATA", 4) + code + le32(0x02000001) + le32(0xFFFFFFFF) +
           le32(name_length.value_or(static_cast<std::uint32_t>(name.size()))) + name;
}

std::string info_body(const Info& info)
{
    return le32(info.channels) + le32(info.sample_size) + le32(info.block_bits) +
           le32(info.sample_rate) + le32(info.loop_begin) + le32(info.loop_end) +
           le32(info.start_offset);
}

FdaInfo fda_info(const Info& i)
{
    FdaInfo info;
    info.channels = i.channels;
    info.sample_size = i.sample_size;
    info.block_bits = i.block_bits;
    info.sample_rate = i.sample_rate;
    info.loop_begin = i.loop_begin;
    info.loop_end = i.loop_end;
    info.start_offset = i.start_offset;
    return info;
}

std::string fda_bytes(const FdaFields& f)
{
    const std::string* texts[3] = {&f.text1, &f.text2, &f.text3};
    auto text_length = [&](int i) {
        return f.text_lengths[i].value_or(static_cast<std::uint32_t>(texts[i]->size()));
    };

    std::string s = chunky_header(f.magic);
    s += chunk_header(f.ids[0], f.names[0]);
    s += le32(text_length(0)) + f.text1 + le32(f.value);
    s += le32(text_length(1)) + f.text2;
    s += le32(text_length(2)) + f.text3;
    s += chunk_header(f.ids[1], f.names[1]);
    s += chunk_header(f.ids[2], f.names[2]);
    s += info_body(f.info);
    s += chunk_header(f.ids[3], f.names[3]);
    s += le32(f.payload_length.value_or(static_cast<std::uint32_t>(f.payload.size())));
    s += f.payload;
    if (f.cut < s.size())
        s.resize(f.cut);
    return s;
}

std::size_t payload_offset(const FdaFields& f)
{
    std::size_t offset = 24 + 20 + 16 + 20 + 20 + 28 + 20 + 4;
    for (const std::string& name : f.names)
        offset += name.size();
    return offset + f.text1.size() + f.text2.size() + f.text3.size();
}

FdaFields rich_fields(std::size_t payload_size)
{
    FdaFields f;
    f.names[0] = "Rel51";
    f.names[1] = "x";
    f.names[2] = "abc";
    f.names[3] = "123456789";
    f.text1 = "exporter";
    f.value = 0x5A5AA5A5;
    f.text2 = "user";
    f.text3 = "Tue Dec 08 12:00:00 2026";
    f.payload = pattern_bytes(payload_size, 7);
    return f;
}

std::string pattern_bytes(std::size_t size, unsigned seed)
{
    std::string s(size, '\0');
    std::uint32_t x = seed * 2654435761u + 1;
    for (std::size_t i = 0; i < size; ++i) {
        x = x * 1664525u + 1013904223u;
        s[i] = static_cast<char>(x >> 24);
    }
    return s;
}

bool write_file(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

std::string read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

} // namespace fixture

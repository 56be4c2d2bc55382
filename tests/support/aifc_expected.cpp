#include "support/aifc_expected.h"

#include <string>

namespace {

using Bytes = std::vector<unsigned char>;

void be(Bytes& out, std::uint64_t value, int size)
{
    for (int shift = 8 * (size - 1); shift >= 0; shift -= 8)
        out.push_back(static_cast<unsigned char>(value >> shift));
}

void text(Bytes& out, const std::string& s)
{
    out.insert(out.end(), s.begin(), s.end());
}

// Count byte, text, and a zero when that makes the length even.
void pstring(Bytes& out, const std::string& s)
{
    out.push_back(static_cast<unsigned char>(s.size()));
    text(out, s);
    if (s.size() % 2 == 0)
        out.push_back(0);
}

// Shifts left until the integer bit is set, counting down from 2^63.
void extended(Bytes& out, std::uint32_t value)
{
    if (value == 0) {
        be(out, 0, 2);  // a 64-bit field at most: ten bytes would shift by 72
        be(out, 0, 8);
        return;
    }
    std::uint64_t significand = value;
    int exponent = 16383 + 63;
    while ((significand & 0x8000000000000000ull) == 0) {
        significand <<= 1;
        --exponent;
    }
    be(out, static_cast<std::uint64_t>(exponent), 2);
    be(out, significand, 8);
}

} // namespace

std::vector<unsigned char> expected_aifc_file(const FdaInfo& info, const Bytes& payload)
{
    const std::uint64_t length = payload.size();
    const std::uint64_t frame_bytes = static_cast<std::uint32_t>((info.block_bits / 8) * info.channels);

    Bytes comm;
    be(comm, info.channels & 0xFFFF, 2);
    be(comm, frame_bytes ? length / frame_bytes : 0, 4);
    be(comm, info.sample_size & 0xFFFF, 2);
    extended(comm, info.sample_rate);
    text(comm, "COMP");
    comm.push_back(16);
    text(comm, "Relic Codec v1.6");

    Bytes mark;
    be(mark, 3, 2);
    const struct {
        std::uint32_t position;
        const char* name;
    } markers[] = {{info.loop_begin, "beg loop"}, {info.loop_end, "end loop"},
                   {info.start_offset, "start offset"}};
    for (std::size_t i = 0; i < 3; ++i) {
        be(mark, i + 1, 2);
        be(mark, markers[i].position, 4);
        pstring(mark, markers[i].name);
    }

    Bytes body;
    text(body, "AIFC");
    text(body, "FVER");
    be(body, 4, 4);
    be(body, 0xA2805140, 4);
    text(body, "COMM");
    be(body, comm.size(), 4);
    body.insert(body.end(), comm.begin(), comm.end());
    if (comm.size() % 2)
        body.push_back(0);
    text(body, "SSND");
    be(body, 10 + length, 4);
    be(body, 0, 4);
    be(body, 0, 4);
    be(body, info.block_bits & 0xFFFF, 2);
    body.insert(body.end(), payload.begin(), payload.end());
    if (length % 2)
        body.push_back(0);
    text(body, "MARK");
    be(body, mark.size(), 4);
    body.insert(body.end(), mark.begin(), mark.end());

    Bytes file;
    text(file, "FORM");
    be(file, body.size(), 4);
    file.insert(file.end(), body.begin(), body.end());
    return file;
}

std::string expected_aifc_bytes(const fixture::FdaFields& fields)
{
    const std::vector<unsigned char> bytes = expected_aifc_file(
        fixture::fda_info(fields.info), std::vector<unsigned char>(fields.payload.begin(), fields.payload.end()));
    return std::string(bytes.begin(), bytes.end());
}

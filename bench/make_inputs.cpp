// Inputs for bench/run.sh, and the check of what the program made of them.
//
//   make_bench_inputs many DIR COUNT MIN MAX   clip_0000.fda ... with payloads of MIN..MAX bytes
//   make_bench_inputs one FILE SIZE            one file with a SIZE-byte payload
//   make_bench_inputs check-many DIR COUNT     each clip_NNNN.aifc against its input
//   make_bench_inputs check-one IN OUT
//
// Headers come from the test fixture builder; payloads are streamed to disk
// in 1 MiB pieces, so a 1 GiB input never sits in memory.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "support/aifc_expected.h"
#include "support/fda_builder.h"

namespace {

constexpr std::size_t piece = std::size_t{1} << 20;

// Outputs up to this size are compared whole with the expected file.
constexpr std::uint64_t whole_check_limit = std::uint64_t{64} << 20;

// Every input has names and texts, so the payload starts at an unaligned
// offset, as in real files.
fixture::FdaFields template_fields()
{
    fixture::FdaFields f = fixture::rich_fields(0);
    f.info = fixture::Info{2, 16, 512, 44100, 0, 1000, 0};
    return f;
}

FdaInfo template_info()
{
    return fixture::fda_info(template_fields().info);
}

// Incompressible, reproducible bytes.
class Noise {
public:
    explicit Noise(std::uint64_t seed) : x_(seed * 0x9E3779B97F4A7C15ull + 1) {}
    void fill(unsigned char* p, std::size_t n)
    {
        for (std::size_t i = 0; i < n; ++i) {
            if (i % 8 == 0) {
                x_ ^= x_ << 13;
                x_ ^= x_ >> 7;
                x_ ^= x_ << 17;
            }
            p[i] = static_cast<unsigned char>(x_ >> (8 * (i % 8)));
        }
    }

private:
    std::uint64_t x_;
};

bool make_input(const std::string& path, std::uint32_t payload_length, std::uint64_t seed)
{
    fixture::FdaFields f = template_fields();
    f.payload_length = payload_length;
    const std::string header = fixture::fda_bytes(f);

    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(header.data(), static_cast<std::streamsize>(header.size()));
    std::vector<unsigned char> buffer(piece);
    Noise noise(seed);
    for (std::uint32_t left = payload_length; left != 0;) {
        const std::size_t n = left < piece ? left : piece;
        noise.fill(buffer.data(), n);
        out.write(reinterpret_cast<const char*>(buffer.data()), static_cast<std::streamsize>(n));
        left -= static_cast<std::uint32_t>(n);
    }
    out.flush();
    if (!out)
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
    return static_cast<bool>(out);
}

std::string clip_name(const std::string& dir, unsigned index, const char* extension)
{
    char name[32];
    std::snprintf(name, sizeof name, "/clip_%04u.%s", index, extension);
    return dir + name;
}

std::uint64_t file_size(std::ifstream& f)
{
    f.seekg(0, std::ios::end);
    const std::streamoff end = f.tellg();
    return end < 0 ? 0 : static_cast<std::uint64_t>(end);
}

bool read_at(std::ifstream& f, std::uint64_t offset, unsigned char* p, std::size_t n)
{
    f.seekg(static_cast<std::streamoff>(offset));
    f.read(reinterpret_cast<char*>(p), static_cast<std::streamsize>(n));
    return static_cast<std::size_t>(f.gcount()) == n;
}

std::uint32_t be32(const unsigned char* p)
{
    return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 |
           std::uint32_t{p[3]};
}

bool fail(const std::string& out, const char* what)
{
    std::fprintf(stderr, "%s: %s\n", out.c_str(), what);
    return false;
}

// The output must be the AIFF-C file for the input's payload: compared whole
// when small; when large, its size, FORM size, payload and MARK chunk.
bool check_output(const std::string& in_path, const std::string& out_path)
{
    std::ifstream in(in_path, std::ios::binary);
    std::ifstream out(out_path, std::ios::binary);
    if (!in || !out)
        return fail(out_path, "missing");
    const std::uint64_t offset = fixture::payload_offset(template_fields());
    const std::uint64_t in_size = file_size(in);
    const std::uint64_t out_size = file_size(out);
    if (in_size < offset)
        return fail(out_path, "input unreadable");
    const std::uint64_t length = in_size - offset;

    // 90 header bytes, the payload, its pad byte, 62 bytes of MARK.
    const std::vector<unsigned char> odd_or_even(2 - length % 2, 0);
    const std::vector<unsigned char> small = expected_aifc_file(template_info(), odd_or_even);
    const std::uint64_t expected_size = small.size() - odd_or_even.size() + length;
    if (out_size != expected_size)
        return fail(out_path, "wrong size");

    if (out_size <= whole_check_limit) {
        std::vector<unsigned char> payload(static_cast<std::size_t>(length));
        std::vector<unsigned char> got(static_cast<std::size_t>(out_size));
        if (!read_at(in, offset, payload.data(), payload.size()) ||
            !read_at(out, 0, got.data(), got.size()))
            return fail(out_path, "unreadable");
        if (got != expected_aifc_file(template_info(), payload))
            return fail(out_path, "bytes differ from the expected file");
        return true;
    }

    unsigned char form[12];
    if (!read_at(out, 0, form, sizeof form) || std::memcmp(form, "FORM", 4) != 0 ||
        be32(form + 4) != out_size - 8 || std::memcmp(form + 8, "AIFC", 4) != 0)
        return fail(out_path, "bad FORM header");

    constexpr std::size_t mark_chunk = 62;
    unsigned char mark[mark_chunk];
    if (!read_at(out, out_size - mark_chunk, mark, mark_chunk) ||
        std::memcmp(mark, small.data() + small.size() - mark_chunk, mark_chunk) != 0)
        return fail(out_path, "bad MARK chunk");

    constexpr std::uint64_t header = 90;
    std::vector<unsigned char> a(piece), b(piece);
    for (std::uint64_t done = 0; done < length;) {
        const std::size_t n = static_cast<std::size_t>(length - done < piece ? length - done : piece);
        if (!read_at(in, offset + done, a.data(), n) ||
            !read_at(out, header + done, b.data(), n))
            return fail(out_path, "unreadable");
        if (std::memcmp(a.data(), b.data(), n) != 0)
            return fail(out_path, "payload differs");
        done += n;
    }
    return true;
}

unsigned long long number(const char* text)
{
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text, &end, 10);
    if (end == text || *end != '\0') {
        std::fprintf(stderr, "not a number: %s\n", text);
        std::exit(2);
    }
    return value;
}

int usage()
{
    std::fprintf(stderr,
                 "usage: make_bench_inputs many DIR COUNT MIN MAX | one FILE SIZE |\n"
                 "                         check-many DIR COUNT | check-one IN OUT\n");
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
        return usage();
    const std::string command = argv[1];

    if (command == "many" && argc == 6) {
        const auto count = static_cast<unsigned>(number(argv[3]));
        const auto min = number(argv[4]);
        const auto max = number(argv[5]);
        if (min > max || max > 0xFFFFFFFFull)
            return usage();
        // Sizes spread evenly over the range, odd and even alike, in a
        // fixed order so that every run converts the same bytes.
        std::uint64_t x = 88172645463325252ull;
        for (unsigned i = 0; i < count; ++i) {
            x ^= x << 13;
            x ^= x >> 7;
            x ^= x << 17;
            const auto size = static_cast<std::uint32_t>(min + x % (max - min + 1));
            if (!make_input(clip_name(argv[2], i, "fda"), size, i + 1))
                return 1;
        }
        return 0;
    }
    if (command == "one" && argc == 4) {
        const auto size = number(argv[3]);
        if (size > 0xFFFFFFFFull)
            return usage();
        return make_input(argv[2], static_cast<std::uint32_t>(size), 42) ? 0 : 1;
    }
    if (command == "check-many" && argc == 4) {
        const auto count = static_cast<unsigned>(number(argv[3]));
        unsigned bad = 0;
        for (unsigned i = 0; i < count; ++i) {
            if (!check_output(clip_name(argv[2], i, "fda"), clip_name(argv[2], i, "aifc")))
                ++bad;
        }
        if (bad != 0)
            std::fprintf(stderr, "%u of %u outputs wrong\n", bad, count);
        return bad == 0 ? 0 : 1;
    }
    if (command == "check-one" && argc == 4)
        return check_output(argv[2], argv[3]) ? 0 : 1;
    return usage();
}

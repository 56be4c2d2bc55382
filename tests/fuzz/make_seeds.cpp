// Writes the fuzzer's seed corpus into a directory: valid files of several
// shapes, and files damaged in each way the reader tells apart, so that the
// fuzzer starts past every check.
//   make_fuzz_seeds <directory>
#include <cstdio>
#include <string>
#include <vector>

#include "support/fda_builder.h"

namespace {

struct Seed {
    const char* name;
    fixture::FdaFields fields;
};

std::vector<Seed> seeds()
{
    using fixture::FdaFields;
    std::vector<Seed> list;
    auto add = [&](const char* name, const FdaFields& f) { list.push_back({name, f}); };
    auto rich = [](std::size_t payload) { return fixture::rich_fields(payload); };

    // Valid shapes: bare, with names and texts, odd payload, mono, odd rates.
    add("valid-bare", FdaFields{});
    add("valid-rich", rich(64));
    {
        FdaFields f = rich(33);
        f.info = fixture::Info{1, 16, 256, 22050, 5, 9, 1};
        add("valid-mono-odd", f);
    }
    {
        FdaFields f = rich(16);
        f.info = fixture::Info{65538, 65552, 515, 8000, 1, 2, 3};
        add("valid-wide-fields", f);
    }
    {
        FdaFields f = rich(8);
        f.info = fixture::Info{0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFF8u, 0xFFFFFFFFu, 0xFFFFFFFFu, 0, 7};
        add("valid-extreme-fields", f);
    }
    {
        FdaFields f = rich(20);
        f.payload_length = 11;  // bytes after the payload are left alone
        add("valid-trailing-bytes", f);
    }

    // Refused by the writer.
    {
        FdaFields f = rich(10);
        f.info.block_bits = 7;
        add("invalid-block-bits", f);
    }
    {
        FdaFields f = rich(10);
        f.info.channels = 0;
        add("invalid-channels", f);
    }
    {
        FdaFields f = rich(10);
        f.info.channels = 0x80000000u;  // a frame of 2^36 bytes wraps to 0 in 32 bits
        f.info.block_bits = 256;
        add("invalid-wrapped-frame", f);
    }

    // Each chunk id and the magic wrong in turn.
    {
        FdaFields f = rich(16);
        f.magic = "relic chunky";
        add("wrong-magic", f);
    }
    const char* wrong_ids[4] = {"fbif", "FDA", "INF0", "DAT "};
    const char* wrong_names[4] = {"wrong-id-fbif", "wrong-id-fda", "wrong-id-info", "wrong-id-data"};
    for (int i = 0; i < 4; ++i) {
        FdaFields f = rich(16);
        f.ids[i] = wrong_ids[i];
        add(wrong_names[i], f);
    }

    // Claims larger than the file.
    {
        FdaFields f = rich(16);
        f.payload_length = 0xFFFFFFFFu;
        add("claim-payload", f);
    }
    {
        FdaFields f = rich(16);
        f.text_lengths[1] = 0x7FFFFFFFu;
        add("claim-text", f);
    }

    // Cuts inside each part of a valid file.
    const FdaFields whole = rich(40);
    const std::size_t payload = fixture::payload_offset(whole);
    const struct {
        const char* name;
        std::size_t at;
    } cuts[] = {{"cut-magic", 7},          {"cut-file-header", 20},      {"cut-fbif-header", 30},
                {"cut-fbif-body", 70},     {"cut-info-body", payload - 40}, {"cut-length", payload - 2},
                {"cut-payload", payload + 13}};
    for (const auto& c : cuts) {
        FdaFields f = whole;
        f.cut = c.at;
        add(c.name, f);
    }
    return list;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_fuzz_seeds <directory>\n");
        return 2;
    }
    for (const Seed& s : seeds()) {
        const std::string path = std::string(argv[1]) + "/" + s.name;
        if (!fixture::write_file(path, fixture::fda_bytes(s.fields))) {
            std::fprintf(stderr, "make_fuzz_seeds: cannot write %s\n", path.c_str());
            return 1;
        }
    }
    return 0;
}

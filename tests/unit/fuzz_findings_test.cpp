// Inputs that the fuzzer (tests/fuzz/) found troublesome, kept as cases of
// the path it drives: reader, checks, writer, each output held against the
// independently assembled file.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "aifc/aifc.h"
#include "fda/byte_source.h"
#include "fda/fda.h"
#include "platform/platform.h"
#include "support/aifc_expected.h"
#include "support/fda_builder.h"

namespace {

namespace fs = std::filesystem;

struct Finding {
    const char* what;
    fixture::FdaFields fields;
};

std::vector<Finding> findings()
{
    std::vector<Finding> list;

    // A sample rate of 0 is ten zero bytes in COMM. The assembler of the
    // expected file shifted a 64-bit value by 72 for it (undefined, caught
    // by UBSan); run under the sanitizer build, this case keeps it honest.
    fixture::FdaFields zero_rate;
    zero_rate.info = fixture::Info{0xE8000002u, 3, 31, 0, 0, 1000, 0};
    list.push_back({"sample rate 0, empty payload", zero_rate});
    zero_rate.payload = fixture::pattern_bytes(7, 3);
    list.push_back({"sample rate 0, odd payload", zero_rate});
    return list;
}

class FuzzFindings : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::random_device random;
        do
            dir_ = fs::temp_directory_path() / ("fernwick-findings-" + std::to_string(random()));
        while (!fs::create_directory(dir_));
    }

    void TearDown() override
    {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    fs::path dir_;
};

TEST_F(FuzzFindings, ConvertLikeTheIndependentAssembly)
{
    for (const Finding& f : findings()) {
        SCOPED_TRACE(f.what);
        const std::string bytes = fixture::fda_bytes(f.fields);
        MemorySource source(bytes.data(), bytes.size());
        FdaStream stream;
        ASSERT_EQ(read_fda_stream(source, stream), FdaReadError::none);
        ASSERT_EQ(check_aifc_stream(stream), AifcWriteError::none);

        const std::string out = (dir_ / "out.aifc").string();
        platform::File output;
        ASSERT_EQ(create_aifc_output(out, platform::File{}, output), AifcWriteError::none);
        const AifcWriteError written = write_aifc(output, stream);
        platform::close_file(output);
        ASSERT_EQ(written, AifcWriteError::none);

        const std::string file = fixture::read_file(out);
        const std::size_t length = f.fields.payload.size();
        ASSERT_EQ(file.size(), 152 + length + (length & 1));
        EXPECT_EQ(file.substr(90, length), f.fields.payload);
        // COMM's sampleRate, bytes 40 to 49.
        if (f.fields.info.sample_rate == 0) {
            EXPECT_EQ(file.substr(40, 10), std::string(10, '\0'));
        }

        EXPECT_TRUE(file == expected_aifc_bytes(f.fields));
    }
}

} // namespace

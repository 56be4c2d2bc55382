// The stream summary line: whole texts for chosen streams, the two figures
// alone, and properties checked against exact integer arithmetic.
#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "extended.h"
#include "fda/fda.h"
#include "summary.h"

namespace {

FdaInfo stream(std::uint32_t channels, std::uint32_t block_bits, std::uint32_t sample_rate)
{
    FdaInfo info;
    info.channels = channels;
    info.block_bits = block_bits;
    info.sample_rate = sample_rate;
    return info;
}

struct SummaryCase {
    std::uint32_t channels;
    std::uint32_t block_bits;
    std::uint32_t sample_rate;
    const char* text;
};

TEST(StreamSummary, TextsWithAPoint)
{
    const SummaryCase cases[] = {
        {1, 256, 22050, "(22.1kbps, 22.1kHz, 1ch)..."},
        {2, 512, 44100, "(88.2kbps, 44.1kHz, 2ch)..."},
        {1, 128, 11025, "(11.0kbps, 11.0kHz, 1ch)..."},
        {2, 1024, 48000, "(176.4kbps, 48.0kHz, 2ch)..."},
        {2, 2048, 32000, "(352.8kbps, 32.0kHz, 2ch)..."},
        {1, 512, 8000, "(44.1kbps, 8.0kHz, 1ch)..."},
        // 9.99140625 and 9.95 both carry into a new digit.
        {1, 116, 9950, "(10.0kbps, 10.0kHz, 1ch)..."},
        {0, 256, 22050, "(0.0kbps, 22.1kHz, 0ch)..."},
        {1, 0, 0, "(0.0kbps, 0.0kHz, 1ch)..."},
        {1, 1, 49, "(0.1kbps, 0.0kHz, 1ch)..."},
        {1, 1, 50, "(0.1kbps, 0.1kHz, 1ch)..."},
        // The channel count is the same 32 bits read as signed.
        {4294967295u, 256, 44100, "(94704028854.8kbps, 44.1kHz, -1ch)..."},
        // Exactly 615200451011192.049609375: the 18-digit reduction turns
        // ...192.0496 into ...192.050, which then goes up.
        {4784483, 1492839098, 44100, "(615200451011192.1kbps, 44.1kHz, 4784483ch)..."},
        {1073741824, 1073741824, 44100, "(99304371783519436.8kbps, 44.1kHz, 1073741824ch)..."},
        {2147483648u, 2147483648u, 44100, "(397217487134077747.0kbps, 44.1kHz, -2147483648ch)..."},
        {4294967295u, 4294967295u, 4294967295u,
         "(1.58886994779643576E18kbps, 4294967.3kHz, -1ch)..."},
    };
    for (const SummaryCase& c : cases) {
        EXPECT_EQ(format_stream_summary(stream(c.channels, c.block_bits, c.sample_rate), '.'), c.text)
            << c.channels << " channels, " << c.block_bits << " block bits, " << c.sample_rate << " Hz";
    }
}

TEST(StreamSummary, SeparatorIsUsedInBothFigures)
{
    const FdaInfo info = stream(1, 256, 22050);
    EXPECT_EQ(format_stream_summary(info, ','), "(22,1kbps, 22,1kHz, 1ch)...");
    // An empty separator of the regional settings is code 0: left out.
    EXPECT_EQ(format_stream_summary(info, '\0'), "(221kbps, 221kHz, 1ch)...");
}

TEST(StreamSummary, ChannelCountIsSigned32Bit)
{
    const struct {
        std::uint32_t channels;
        const char* text;
    } cases[] = {
        {0, "0"},
        {2147483647u, "2147483647"},
        {2147483648u, "-2147483648"},
        {4294967294u, "-2"},
        {4294967295u, "-1"},
    };
    for (const auto& c : cases) {
        // block_bits 0 keeps the kbps figure at 0.0 whatever the count.
        const std::string expected = std::string("(0.0kbps, 0.0kHz, ") + c.text + "ch)...";
        EXPECT_EQ(format_stream_summary(stream(c.channels, 0, 0), '.'), expected);
    }
}

TEST(StreamSummary, KilohertzTexts)
{
    const struct {
        std::uint32_t sample_rate;
        const char* text;
    } cases[] = {
        {8000, "8.0"},   {11025, "11.0"}, {16000, "16.0"}, {22050, "22.1"},
        {32000, "32.0"}, {44100, "44.1"}, {48000, "48.0"}, {4294967295u, "4294967.3"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(format_one_decimal(sample_rate_khz(stream(1, 0, c.sample_rate)), '.'), c.text)
            << c.sample_rate;
}

TEST(StreamSummary, KilobitTexts)
{
    const struct {
        std::uint32_t block_bits;
        std::uint32_t channels;
        const char* text;
    } cases[] = {
        {256, 1, "22.1"},   // exactly 22.05
        {256, 2, "44.1"},
        {512, 1, "44.1"},
        {512, 2, "88.2"},
        {1024, 1, "88.2"},
        {1024, 2, "176.4"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(format_one_decimal(bit_rate_kbps(stream(c.channels, c.block_bits, 0)), '.'), c.text)
            << c.block_bits << " x " << c.channels;
}

TEST(StreamSummary, FactorDoesNotFollowSampleRate)
{
    // A 22050 Hz stream is figured with 44100 / 512 as well.
    EXPECT_EQ(bit_rate_kbps(stream(1, 256, 22050)), bit_rate_kbps(stream(1, 256, 44100)));
    EXPECT_EQ(format_stream_summary(stream(1, 256, 11025), '.'), "(22.1kbps, 11.0kHz, 1ch)...");
}

struct OneDecimalCase {
    Extended value;
    const char* text;
    const char* why;
};

TEST(FormatOneDecimal, ChosenValues)
{
    const std::uint64_t ten_to_the_17 = 100000000000000000u;
    const std::uint64_t ten_to_the_18 = 1000000000000000000u;
    const OneDecimalCase cases[] = {
        {Extended(), "0.0", "zero"},
        {Extended::from_uint(1), "1.0", "one"},
        {Extended::from_parts(1, -1), "0.5", "one half"},
        {Extended::from_parts(1, -2), "0.3", "0.25: a 5 in the second decimal goes up"},
        {Extended::from_parts(89, -2), "22.3", "22.25 is exact; ties to even would give 22.2"},
        {Extended::from_parts(1, -4), "0.1", "0.0625: nothing kept, a 6 makes a new digit"},
        {Extended::from_parts(3, -6), "0.0", "0.046875: nothing kept, the 4 drops"},
        {Extended::from_parts(1, -5), "0.0", "0.03125"},
        {Extended::from_parts(1, -40), "0.0", "far below a twentieth"},
        {Extended::from_parts(319, -5), "10.0", "9.96875 carries into a new digit"},
        {Extended::from_parts(3199, -5), "100.0", "99.96875 carries through two nines"},
        {Extended::from_parts(3, -5), "0.1", "0.09375 carries into the units"},
        {Extended::from_uint(1000), "1000.0", "trailing zeros of the integer part come back"},
        {Extended::from_parts(24691357802469135u, -1), "12345678901234567.5",
         "from 10^16 on the decimal is the 18th digit, not rounded"},
        {Extended::from_uint(ten_to_the_17), "100000000000000000.0", "10^17"},
        {Extended::from_parts(246913578024691357u, -1), "123456789012345678.0",
         "...678.5: the 19th digit is rounded away, ties to even"},
        {Extended::from_parts(246913578024691359u, -1), "123456789012345680.0",
         "...679.5: ties to even goes up"},
        {Extended::from_uint(ten_to_the_18 - 1), "999999999999999999.0", "the largest fixed form"},
        {Extended::from_uint(ten_to_the_18), "1E18", "exponent form, a single digit"},
        {Extended::from_uint(ten_to_the_18 * 12), "1.2E19", "exponent form, trailing zeros dropped"},
        // (2^64 - 1) / 10 = ...161.5 rounds to ...162, whose /10 is ...516.2.
        {Extended::from_uint(18446744073709551615u), "1.84467440737095516E19", "2^64 - 1"},
    };
    for (const OneDecimalCase& c : cases)
        EXPECT_EQ(format_one_decimal(c.value, '.'), c.text) << c.why;
}

TEST(FormatOneDecimal, SeparatorOfCodeZero)
{
    EXPECT_EQ(format_one_decimal(Extended::from_parts(89, -2), '\0'), "223");
    EXPECT_EQ(format_one_decimal(Extended(), '\0'), "00");
    // The exponent form follows the same rule.
    EXPECT_EQ(format_one_decimal(Extended::from_uint(12000000000000000000u), '\0'), "12E19");
    EXPECT_EQ(format_one_decimal(Extended::from_uint(12000000000000000000u), ','), "1,2E19");
}

TEST(DecimalForm, DigitsAndExponent)
{
    const struct {
        Extended value;
        const char* digits;
        int exponent;
    } cases[] = {
        {Extended(), "", 0},
        {Extended::from_uint(1), "1", 1},
        {Extended::from_uint(1000), "1", 4},
        {Extended::from_parts(89, -2), "223", 2},    // 22.25 -> 22.3
        {Extended::from_parts(3, -6), "", -1},       // 0.046875 rounds to nothing
        {Extended::from_parts(1, -40), "", 0},       // too small to reach the first decimal
        {Extended::from_parts(319, -5), "1", 2},     // 9.96875 -> 10.0
        {Extended::from_uint(18446744073709551615u), "184467440737095516", 20},
    };
    for (const auto& c : cases) {
        const DecimalForm form = decimal_form(c.value);
        EXPECT_EQ(form.digits, c.digits) << c.digits;
        EXPECT_EQ(form.exponent, c.exponent) << c.digits;
    }
}

// "T.t" for a count of tenths.
std::string tenths_text(std::uint64_t tenths)
{
    return std::to_string(tenths / 10) + "." + static_cast<char>('0' + tenths % 10);
}

// The kHz text is sample_rate / 1000 rounded to one decimal, a 5 going up.
std::string expected_khz(std::uint32_t sample_rate)
{
    return tenths_text(sample_rate / 100 + (sample_rate % 100 >= 50 ? 1 : 0));
}

TEST(StreamSummary, KilohertzIsTheExactQuotientRoundedHalfUp)
{
    std::vector<std::uint32_t> rates;
    for (std::uint32_t rate = 0; rate <= 200000; ++rate)
        rates.push_back(rate);
    std::mt19937 random(20240611);
    for (int i = 0; i < 200000; ++i)
        rates.push_back(static_cast<std::uint32_t>(random()));
    for (std::uint32_t high = 4294967295u; high > 4294967295u - 1000; --high)
        rates.push_back(high);

    int failures = 0;
    for (std::uint32_t rate : rates) {
        const std::string text = format_one_decimal(sample_rate_khz(stream(1, 0, rate)), '.');
        if (text != expected_khz(rate)) {
            ADD_FAILURE() << rate << " Hz gives " << text << ", expected " << expected_khz(rate);
            if (++failures == 10)
                return;
        }
    }
}

TEST(StreamSummary, KilobitsBelow10To14AreTheExactValueRoundedHalfUp)
{
    // block_bits × channels × 441 / 5120, in tenths with a 5 going up. Below
    // 10^14 kbps the product stays below 1.2 × 10^15, and × 4410 below 2^64.
    const std::uint64_t product_limit = 1160997732426304u;   // ⌈10^14 × 5120 / 441⌉
    std::mt19937_64 random(1492839098);
    int checked = 0;
    int failures = 0;
    while (checked < 300000) {
        // Spread the sizes (random bit widths, then random bits); every
        // other pair is pushed up towards the limit, where the 18 digits
        // keep the fewest decimals.
        const std::uint32_t block_bits =
            static_cast<std::uint32_t>(random() & ((std::uint64_t{1} << (random() % 33)) - 1));
        std::uint32_t channels =
            static_cast<std::uint32_t>(random() & ((std::uint64_t{1} << (random() % 33)) - 1));
        if (checked % 2 == 1 && block_bits != 0) {
            const std::uint64_t largest = std::min<std::uint64_t>((product_limit - 1) / block_bits, 0xFFFFFFFFu);
            channels = static_cast<std::uint32_t>(largest - random() % (largest / 1000 + 1));
        }
        const std::uint64_t product = std::uint64_t{block_bits} * channels;
        if (product >= product_limit)
            continue;
        ++checked;
        const std::uint64_t tenths = (product * 4410 + 2560) / 5120;
        const std::string text = format_one_decimal(bit_rate_kbps(stream(channels, block_bits, 0)), '.');
        if (text != tenths_text(tenths)) {
            ADD_FAILURE() << block_bits << " x " << channels << " gives " << text << ", expected "
                          << tenths_text(tenths);
            if (++failures == 10)
                return;
        }
    }
}

} // namespace

// The integer emulation of the 80-bit extended format: values worked out by
// hand, then a cross-check against x87 hardware where the host has it.
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "extended.h"
#include "fda/fda.h"
#include "summary.h"

namespace {

constexpr std::uint64_t top_bit = std::uint64_t{1} << 63;

struct Bits {
    std::uint64_t significand;
    int exponent;
};

bool operator==(const Bits& a, const Bits& b)
{
    return a.significand == b.significand && a.exponent == b.exponent;
}

std::ostream& operator<<(std::ostream& out, const Bits& bits)
{
    std::ostringstream text;
    text << std::hex << "0x" << bits.significand << std::dec << " * 2^(" << bits.exponent << " - 63)";
    return out << text.str();
}

Bits bits_of(const Extended& value)
{
    return {value.significand(), value.exponent()};
}

TEST(Extended, ConversionsAreExactAndNormalised)
{
    const struct {
        Extended value;
        Bits bits;
        const char* what;
    } cases[] = {
        {Extended(), {0, 0}, "zero"},
        {Extended::from_uint(0), {0, 0}, "zero from an integer"},
        {Extended::from_uint(1), {top_bit, 0}, "one"},
        {Extended::from_uint(3), {0xC000000000000000u, 1}, "three"},
        {Extended::from_uint(1000), {0xFA00000000000000u, 9}, "1000 = 0b1111101000"},
        {Extended::from_uint(4294967295u), {0xFFFFFFFF00000000u, 31}, "2^32 - 1"},
        {Extended::from_uint(18446744073709551615u), {0xFFFFFFFFFFFFFFFFu, 63}, "2^64 - 1"},
        {Extended::from_parts(44100, -9), {0xAC44000000000000u, 6}, "86.1328125 = 44100 / 2^9"},
        {Extended::from_parts(6, 0), {0xC000000000000000u, 2}, "six"},
        {Extended::from_parts(3, 1), {0xC000000000000000u, 2}, "six as 3 * 2"},
        {Extended::from_parts(1, -100), {top_bit, -100}, "2^-100"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(bits_of(c.value), c.bits) << c.what;
}

TEST(Extended, IntegerPart)
{
    EXPECT_EQ(Extended().to_uint(), 0u);
    EXPECT_EQ(Extended::from_parts(1, -1).to_uint(), 0u);
    EXPECT_EQ(Extended::from_parts(7, -1).to_uint(), 3u);
    EXPECT_EQ(Extended::from_uint(1000000000000000000u).to_uint(), 1000000000000000000u);
    EXPECT_EQ(Extended::from_uint(18446744073709551615u).to_uint(), 18446744073709551615u);
}

TEST(Extended, Comparison)
{
    const Extended tiny = Extended::from_parts(1, -100);
    EXPECT_LT(Extended(), tiny);
    EXPECT_LT(tiny, Extended::from_uint(1));
    EXPECT_LT(Extended::from_uint(2), Extended::from_uint(3));   // same exponent
    EXPECT_LT(Extended::from_uint(3), Extended::from_uint(4));   // exponent decides
    EXPECT_FALSE(Extended() < Extended());
    EXPECT_FALSE(Extended::from_uint(3) < Extended::from_uint(3));
    EXPECT_EQ(Extended::from_uint(6), Extended::from_parts(3, 1));
    EXPECT_NE(Extended(), tiny);
    EXPECT_GE(Extended::from_uint(1000000000000000000u), Extended::from_uint(1000000000000000000u));
}

TEST(Extended, ProductsRoundToNearestEven)
{
    const Extended one_and_a_half = Extended::from_parts(3, -1);
    const struct {
        Extended a;
        Extended b;
        Bits product;
        const char* what;
    } cases[] = {
        {Extended::from_uint(256), Extended::from_parts(44100, -9), {0xAC44000000000000u, 14},
         "256 * 86.1328125 = 22050, exact"},
        {Extended(), Extended::from_uint(5), {0, 0}, "zero"},
        // 1.5 + 1.5 ulp: a tie between an odd and an even significand.
        {one_and_a_half, Extended::from_parts(top_bit + 1, -63), {0xC000000000000002u, 0},
         "1.5 * (1 + 2^-63), tie up to even"},
        // 1.5 + 4.5 ulp: the tie goes down this time.
        {one_and_a_half, Extended::from_parts(top_bit + 3, -63), {0xC000000000000004u, 0},
         "1.5 * (1 + 3 * 2^-63), tie down to even"},
        // (2^64 - 1)^2 = 2^128 - 2^65 + 1: the 1 is below a half.
        {Extended::from_uint(18446744073709551615u), Extended::from_uint(18446744073709551615u),
         {0xFFFFFFFFFFFFFFFEu, 127}, "(2^64 - 1)^2, rounded down"},
        // (2 - 2^-62)(1 + 2^-63) = 2 - 2^-125: rounding carries into a new bit.
        {Extended::from_parts(0xFFFFFFFFFFFFFFFEu, -63), Extended::from_parts(top_bit + 1, -63),
         {top_bit, 1}, "carry out of the significand"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(bits_of(c.a * c.b), c.product) << c.what;
        EXPECT_EQ(bits_of(c.b * c.a), c.product) << c.what << ", operands swapped";
    }
}

TEST(Extended, QuotientsRoundToNearestEven)
{
    // A quotient of two 64-bit significands is never exactly halfway, so
    // there are no ties to test here.
    const struct {
        std::uint64_t a;
        std::uint64_t b;
        Bits quotient;
        const char* what;
    } cases[] = {
        {1, 3, {0xAAAAAAAAAAAAAAABu, -2}, "1/3 rounds up"},
        {2, 3, {0xAAAAAAAAAAAAAAABu, -1}, "2/3"},
        {1, 10, {0xCCCCCCCCCCCCCCCDu, -4}, "1/10 rounds up"},
        {22050, 1000, {0xB066666666666666u, 4}, "22.05 rounds down, below 22.05"},
        {44100, 1000, {0xB066666666666666u, 5}, "44.1"},
        {4294967295u, 1000, {0x83126E970A3D70A4u, 22}, "4294967.295"},
        {44100, 512, {0xAC44000000000000u, 6}, "86.1328125, exact"},
        {1000, 1000, {top_bit, 0}, "one"},
        {0, 1000, {0, 0}, "zero"},
        {18446744073709551615u, 1, {0xFFFFFFFFFFFFFFFFu, 63}, "divisor one"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(bits_of(Extended::from_uint(c.a) / Extended::from_uint(c.b)), c.quotient) << c.what;
}

TEST(Extended, RoundToIntegerTiesToEven)
{
    const struct {
        Extended value;
        std::uint64_t integer;
        const char* what;
    } cases[] = {
        {Extended(), 0, "0"},
        {Extended::from_parts(1, -70), 0, "2^-70"},
        {Extended::from_parts(1, -2), 0, "0.25"},
        {Extended::from_parts(1, -1), 0, "0.5 goes to even 0"},
        {Extended::from_parts(3, -2), 1, "0.75"},
        {Extended::from_parts(18446744073709551615u, -64), 1, "just below 1"},
        {Extended::from_parts(3, -1), 2, "1.5 goes to even 2"},
        {Extended::from_parts(5, -1), 2, "2.5 goes to even 2"},
        {Extended::from_parts(7, -1), 4, "3.5 goes to even 4"},
        {Extended::from_parts(9, -2), 2, "2.25"},
        {Extended::from_parts(11, -2), 3, "2.75"},
        {Extended::from_parts(18446744073709551615u, -1), top_bit, "2^63 - 0.5 carries into bit 63"},
        {Extended::from_parts(18446744073709551615u, -2), std::uint64_t{1} << 62, "2^62 - 0.25"},
        {Extended::from_uint(top_bit + 1), top_bit + 1, "an integer with no fraction bits"},
        {Extended::from_uint(18446744073709551615u), 18446744073709551615u, "2^64 - 1"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(round_to_integer(c.value), Extended::from_uint(c.integer)) << c.what;
    EXPECT_EQ(round_to_integer(Extended::from_parts(1, 70)), Extended::from_parts(1, 70));
}

} // namespace

// Cross-check against the x87 unit, which does these very roundings in
// hardware when `long double` is its 80-bit format.
#if (defined(__GNUC__) || defined(__clang__)) && (defined(__x86_64__) || defined(__i386__)) \
    && LDBL_MANT_DIG == 64
#define FERNWICK_HOST_HAS_X87 1
#else
#define FERNWICK_HOST_HAS_X87 0
#endif

namespace {

#if FERNWICK_HOST_HAS_X87

// Round to nearest with a 64-bit significand for the life of the object
// (some systems start the x87 unit at 53 bits).
class X87NearestExtended {
public:
    X87NearestExtended()
    {
        __asm__ __volatile__("fnstcw %0" : "=m"(saved_));
        const std::uint16_t control = static_cast<std::uint16_t>((saved_ & ~0x0F00u) | 0x0300u);
        __asm__ __volatile__("fldcw %0" : : "m"(control));
    }
    ~X87NearestExtended() { __asm__ __volatile__("fldcw %0" : : "m"(saved_)); }
    X87NearestExtended(const X87NearestExtended&) = delete;
    X87NearestExtended& operator=(const X87NearestExtended&) = delete;

private:
    std::uint16_t saved_ = 0;
};

Bits bits_of(long double value)
{
    unsigned char bytes[sizeof(long double)];
    std::memcpy(bytes, &value, sizeof value);
    std::uint64_t significand = 0;
    std::memcpy(&significand, bytes, sizeof significand);   // x86: little-endian
    if (significand == 0)
        return {0, 0};
    const int biased = (bytes[8] | (bytes[9] << 8)) & 0x7FFF;
    return {significand, biased - 16383};
}

long double host_value(std::uint64_t significand, int exponent)
{
    return std::ldexp(static_cast<long double>(significand), exponent - 63);
}

// Significands where roundings go wrong first: extremes, near-halves, few
// set bits (exact products and ties), and plain random ones.
std::uint64_t interesting_significand(std::mt19937_64& random)
{
    static const std::uint64_t special[] = {
        top_bit,
        top_bit + 1,
        top_bit + 3,
        0xFFFFFFFFFFFFFFFFu,
        0xFFFFFFFFFFFFFFFEu,
        0xC000000000000000u,
        0xC000000000000001u,
        0xAAAAAAAAAAAAAAABu,
        0xCCCCCCCCCCCCCCCDu,
        0xB504F333F9DE6484u,   // about √2 × 2^63: squares land next to 2^127
        0xB504F333F9DE6485u,
        0xFA00000000000000u,   // 1000
        0xAC44000000000000u,   // 44100
    };
    std::uint64_t significand = 0;
    switch (random() % 4) {
    case 0:
        significand = special[random() % (sizeof special / sizeof special[0])];
        break;
    case 1:
        significand = random() << (random() % 64);   // trailing zeros
        break;
    case 2:
        significand = random() | (random() >> (random() % 64));   // runs of ones
        break;
    default:
        significand = random();
        break;
    }
    return significand == 0 ? 1 : significand;
}

TEST(ExtendedCrossCheck, PrimitivesMatchTheX87Unit)
{
    const X87NearestExtended mode;
    std::mt19937_64 random(86);
    const int rounds = 200000;
    int failures = 0;
    for (int i = 0; i < rounds && failures < 10; ++i) {
        const std::uint64_t a_significand = interesting_significand(random);
        const std::uint64_t b_significand = interesting_significand(random);
        // Exponents from -3 to 66 cover every way of rounding to an integer.
        const int a_exponent = static_cast<int>(random() % 70) - 3;
        const int b_exponent = static_cast<int>(random() % 70) - 3;
        const Extended a = Extended::from_parts(a_significand, a_exponent - 63);
        const Extended b = Extended::from_parts(b_significand, b_exponent - 63);
        const long double host_a = host_value(a_significand, a_exponent);
        const long double host_b = host_value(b_significand, b_exponent);

        const struct {
            Bits emulated;
            Bits host;
            const char* operation;
        } results[] = {
            {bits_of(a), bits_of(host_a), "conversion"},
            {bits_of(a * b), bits_of(host_a * host_b), "product"},
            {bits_of(a / b), bits_of(host_a / host_b), "quotient"},
            {bits_of(round_to_integer(a)), bits_of(std::rint(host_a)), "round to integer"},
        };
        for (const auto& r : results) {
            if (!(r.emulated == r.host)) {
                ADD_FAILURE() << r.operation << " of " << Bits{a_significand, a_exponent} << " and "
                              << Bits{b_significand, b_exponent} << ": " << r.emulated
                              << ", the x87 unit gives " << r.host;
                ++failures;
            }
        }
    }
}

// What the decimal form must be, reached another way: from the host's 18
// digits N and exponent E, rounded to one decimal in integer arithmetic.
DecimalForm expected_form(std::uint64_t n, int exponent)
{
    const int kept = exponent + 1;
    if (kept < 0)
        return DecimalForm();
    std::uint64_t rounded = n;
    int length = 18;
    if (kept < 18) {
        std::uint64_t unit = 1;
        for (int i = kept; i < 18; ++i)
            unit *= 10;
        rounded = n / unit + (n % unit >= unit / 2 ? 1 : 0);
        length = kept;
    }
    DecimalForm form;
    form.digits = rounded == 0 ? std::string() : std::to_string(rounded);
    form.exponent = exponent + static_cast<int>(form.digits.size()) - length;   // a carry adds a digit
    while (!form.digits.empty() && form.digits.back() == '0')
        form.digits.pop_back();
    return form;
}

// The steps from a figure to its 18 digits, done once with the emulation
// and once on the x87 unit, compared after every rounding.
::testing::AssertionResult same_reduction(const Extended& value, long double host)
{
    if (!(bits_of(value) == bits_of(host)))
        return ::testing::AssertionFailure() << "figure " << bits_of(value) << ", host " << bits_of(host);
    const DecimalForm form = decimal_form(value);
    if (host == 0) {
        if (!form.digits.empty() || form.exponent != 0)
            return ::testing::AssertionFailure() << "zero gives " << form.digits << " E" << form.exponent;
        return ::testing::AssertionSuccess();
    }

    int decimal_exponent = static_cast<int>(std::floor(std::ilogb(host) * 19728 / 65536.0)) + 1;
    const int scale = 18 - decimal_exponent;
    long double host_power = 1;
    Extended power = Extended::from_uint(1);
    for (int i = 0; i < (scale < 0 ? -scale : scale); ++i) {
        host_power *= 10;
        power = power * Extended::from_uint(10);
    }
    long double host_x = scale >= 0 ? host * host_power : host / host_power;
    Extended x = scale >= 0 ? value * power : value / power;
    if (!(bits_of(x) == bits_of(host_x)))
        return ::testing::AssertionFailure() << "scaled by 10^" << scale << ": " << bits_of(x)
                                             << ", host " << bits_of(host_x);
    host_x = std::rint(host_x);
    x = round_to_integer(x);
    if (!(bits_of(x) == bits_of(host_x)))
        return ::testing::AssertionFailure() << "rounded: " << bits_of(x) << ", host " << bits_of(host_x);
    if (host_x >= 1e18L) {
        host_x = host_x / 10;
        x = x / Extended::from_uint(10);
        if (!(bits_of(x) == bits_of(host_x)))
            return ::testing::AssertionFailure() << "divided by 10: " << bits_of(x) << ", host "
                                                 << bits_of(host_x);
        host_x = std::rint(host_x);
        x = round_to_integer(x);
        if (!(bits_of(x) == bits_of(host_x)))
            return ::testing::AssertionFailure() << "rounded again: " << bits_of(x) << ", host "
                                                 << bits_of(host_x);
        ++decimal_exponent;
    }
    const auto n = static_cast<std::uint64_t>(host_x);
    if (n < 100000000000000000u || n >= 1000000000000000000u)
        return ::testing::AssertionFailure() << "not 18 digits: " << n;

    const DecimalForm expected = expected_form(n, decimal_exponent);
    if (form.digits != expected.digits || form.exponent != expected.exponent)
        return ::testing::AssertionFailure() << "decimal form " << form.digits << " E" << form.exponent
                                             << ", expected " << expected.digits << " E" << expected.exponent;
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult same_figures(std::uint32_t block_bits, std::uint32_t channels,
                                        std::uint32_t sample_rate)
{
    FdaInfo info;
    info.block_bits = block_bits;
    info.channels = channels;
    info.sample_rate = sample_rate;
    long double kbps = static_cast<long double>(block_bits) * 86.1328125L;
    kbps = kbps * static_cast<long double>(channels);
    kbps = kbps / 1000;
    const long double khz = static_cast<long double>(sample_rate) / 1000;

    const ::testing::AssertionResult bit_rate = same_reduction(bit_rate_kbps(info), kbps);
    if (!bit_rate)
        return ::testing::AssertionFailure() << "kbps of " << block_bits << " x " << channels << ": "
                                             << bit_rate.message();
    const ::testing::AssertionResult sample = same_reduction(sample_rate_khz(info), khz);
    if (!sample)
        return ::testing::AssertionFailure() << "kHz of " << sample_rate << ": " << sample.message();
    return ::testing::AssertionSuccess();
}

std::vector<std::uint32_t> boundary_fields()
{
    std::vector<std::uint32_t> fields = {0, 3, 5, 7, 9, 49, 50, 99, 116, 441, 9950, 11025, 22050, 44100,
                                         48000, 4784483, 1492839098, 4294967294u, 4294967295u};
    for (std::uint32_t ten = 10; ten <= 1000000000; ten *= 10)
        fields.push_back(ten);
    for (int k = 0; k < 32; ++k) {
        const std::uint32_t power = std::uint32_t{1} << k;
        fields.push_back(power);
        fields.push_back(power + 1);
        if (k > 1)
            fields.push_back(power - 1);
    }
    return fields;
}

// A field of random width, so that small values are as common as large.
std::uint32_t random_field(std::mt19937_64& random)
{
    const int width = static_cast<int>(random() % 33);
    return static_cast<std::uint32_t>(random() & ((std::uint64_t{1} << width) - 1));
}

TEST(ExtendedCrossCheck, SummaryStepsMatchTheX87Unit)
{
    const X87NearestExtended mode;
    const std::vector<std::uint32_t> fields = boundary_fields();
    int failures = 0;
    auto check = [&](std::uint32_t block_bits, std::uint32_t channels, std::uint32_t sample_rate) {
        const ::testing::AssertionResult result = same_figures(block_bits, channels, sample_rate);
        if (!result) {
            ADD_FAILURE() << result.message();
            ++failures;
        }
    };

    std::size_t next_rate = 0;
    for (std::uint32_t block_bits : fields) {
        for (std::uint32_t channels : fields) {
            check(block_bits, channels, fields[next_rate]);
            next_rate = (next_rate + 1) % fields.size();
            if (failures >= 10)
                return;
        }
    }
    std::mt19937_64 random(44100);
    for (int i = 0; i < 300000 && failures < 10; ++i) {
        const bool uniform = random() % 2 == 0;
        const auto block_bits = uniform ? static_cast<std::uint32_t>(random()) : random_field(random);
        const auto channels = uniform ? static_cast<std::uint32_t>(random()) : random_field(random);
        check(block_bits, channels, random_field(random));
    }
}

#else

TEST(ExtendedCrossCheck, NeedsX87LongDouble)
{
    GTEST_SKIP() << "long double is not the x87 80-bit format on this host";
}

#endif

} // namespace

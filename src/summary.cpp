#include "summary.h"

#include <cstddef>
#include <cstdint>

#include "fda/fda.h"

namespace {

constexpr int significant_digits = 18;
constexpr std::uint64_t ten_to_the_18 = 1000000000000000000u;

// 10^k = 5^k × 2^k, exact as long as 5^k fits 64 bits (k ≤ 27), which
// covers every scale that the two figures need. Larger powers are built
// from rounded products.
Extended power_of_ten(int k)
{
    const int exact_limit = 27;
    std::uint64_t five_power = 1;
    const int exact = k < exact_limit ? k : exact_limit;
    for (int i = 0; i < exact; ++i)
        five_power *= 5;
    Extended result = Extended::from_parts(five_power, exact);
    if (k > exact_limit)
        result = result * power_of_ten(k - exact_limit);
    return result;
}

int floor_div(long long numerator, long long denominator)
{
    long long quotient = numerator / denominator;
    if (numerator % denominator != 0 && numerator < 0)
        --quotient;
    return static_cast<int>(quotient);
}

std::string eighteen_digits(std::uint64_t n)
{
    std::string text(significant_digits, '0');
    for (auto digit = text.rbegin(); digit != text.rend(); ++digit) {
        *digit = static_cast<char>('0' + n % 10);
        n /= 10;
    }
    return text;
}

std::string signed_decimal(std::uint32_t bits)
{
    const std::int64_t value = bits < 0x80000000u ? std::int64_t{bits}
                                                  : std::int64_t{bits} - 0x100000000;
    return std::to_string(value);
}

} // namespace

Extended bit_rate_kbps(const FdaInfo& info)
{
    const Extended block_rate_factor = Extended::from_parts(44100, -9);   // 86.1328125
    const Extended per_channel = Extended::from_uint(info.block_bits) * block_rate_factor;
    return per_channel * Extended::from_uint(info.channels) / Extended::from_uint(1000);
}

Extended sample_rate_khz(const FdaInfo& info)
{
    return Extended::from_uint(info.sample_rate) / Extended::from_uint(1000);
}

DecimalForm decimal_form(const Extended& value)
{
    DecimalForm form;
    if (value.is_zero())
        return form;

    // log10(2) ≈ 19728 / 65536, a shade low: the estimate is the decimal
    // exponent or one below it, and the fix-up below catches the latter.
    int exponent = floor_div(static_cast<long long>(value.exponent()) * 19728, 65536) + 1;
    const int scale = significant_digits - exponent;
    Extended scaled = value;
    if (scale > 0)
        scaled = value * power_of_ten(scale);
    else if (scale < 0)
        scaled = value / power_of_ten(-scale);

    Extended integer = round_to_integer(scaled);
    if (integer >= Extended::from_uint(ten_to_the_18)) {
        integer = round_to_integer(integer / Extended::from_uint(10));
        ++exponent;
    }
    std::string digits = eighteen_digits(integer.to_uint());   // 10^17 ≤ it < 10^18

    // Round to one decimal on the 18 digits, not on the binary value: that
    // is what makes 22050 / 1000 read 22.1 although it lies below 22.05.
    const int kept = exponent + 1;
    if (kept < 0)
        return form;
    if (kept < significant_digits) {
        const auto length = static_cast<std::size_t>(kept);
        const bool up = digits[length] >= '5';
        digits.resize(length);
        if (up) {
            while (!digits.empty() && digits.back() == '9')
                digits.pop_back();
            if (digits.empty()) {
                digits = "1";
                ++exponent;
            } else {
                ++digits.back();
            }
        }
    }
    while (!digits.empty() && digits.back() == '0')
        digits.pop_back();

    form.digits = digits;
    form.exponent = exponent;
    return form;
}

std::string format_one_decimal(const Extended& value, char decimal_separator)
{
    const DecimalForm form = decimal_form(value);
    const std::string& digits = form.digits;
    std::string text;

    if (form.exponent > significant_digits) {
        // Only a value of 10^18 or more gets here, so digits is not empty.
        text += digits[0];
        if (digits.size() > 1) {
            if (decimal_separator != '\0')
                text += decimal_separator;
            text.append(digits, 1, std::string::npos);
        }
        text += 'E';
        text += std::to_string(form.exponent - 1);
        return text;
    }

    const std::size_t whole = form.exponent > 0 ? static_cast<std::size_t>(form.exponent) : 0;
    if (whole == 0) {
        text = "0";
    } else {
        text.assign(digits, 0, whole);
        text.append(whole - text.size(), '0');
    }
    if (decimal_separator != '\0')
        text += decimal_separator;
    text += form.exponent >= 0 && whole < digits.size() ? digits[whole] : '0';
    return text;
}

std::string format_stream_summary(const FdaInfo& info, char decimal_separator)
{
    return "(" + format_one_decimal(bit_rate_kbps(info), decimal_separator) + "kbps, "
           + format_one_decimal(sample_rate_khz(info), decimal_separator) + "kHz, "
           + signed_decimal(info.channels) + "ch)...";
}

#include "extended.h"

namespace {

struct Product {
    std::uint64_t high;
    std::uint64_t low;
};

// 64 × 64 → 128 bits through 32-bit halves: no compiler has to offer a
// 128-bit integer.
Product multiply_wide(std::uint64_t a, std::uint64_t b)
{
    const std::uint64_t mask = 0xFFFFFFFFu;
    const std::uint64_t a0 = a & mask, a1 = a >> 32;
    const std::uint64_t b0 = b & mask, b1 = b >> 32;
    const std::uint64_t p00 = a0 * b0;
    const std::uint64_t p01 = a0 * b1;
    const std::uint64_t p10 = a1 * b0;
    const std::uint64_t p11 = a1 * b1;
    // Below 3 × 2^32: the middle column cannot overflow.
    const std::uint64_t middle = (p00 >> 32) + (p01 & mask) + (p10 & mask);
    return {p11 + (p01 >> 32) + (p10 >> 32) + (middle >> 32), (middle << 32) | (p00 & mask)};
}

int leading_zeros(std::uint64_t value)
{
    int count = 0;
    for (int width = 32; width > 0; width /= 2) {
        if ((value >> (64 - width)) == 0) {
            value <<= width;
            count += width;
        }
    }
    return count;
}

} // namespace

Extended Extended::from_uint(std::uint64_t value)
{
    return from_parts(value, 0);
}

Extended Extended::from_parts(std::uint64_t significand, int power_of_two)
{
    Extended result;
    if (significand == 0)
        return result;
    const int shift = leading_zeros(significand);
    result.significand_ = significand << shift;
    result.exponent_ = power_of_two + 63 - shift;
    return result;
}

Extended Extended::rounded(std::uint64_t significand, int exponent, bool round_bit, bool sticky)
{
    Extended result;
    result.significand_ = significand;
    result.exponent_ = exponent;
    if (round_bit && (sticky || (significand & 1) != 0)) {
        ++result.significand_;
        if (result.significand_ == 0) {   // carried out of the top bit
            result.significand_ = std::uint64_t{1} << 63;
            ++result.exponent_;
        }
    }
    return result;
}

std::uint64_t Extended::to_uint() const
{
    if (significand_ == 0 || exponent_ < 0)
        return 0;
    return significand_ >> (63 - exponent_);
}

Extended operator*(const Extended& a, const Extended& b)
{
    if (a.is_zero() || b.is_zero())
        return Extended();
    // Both significands lie in [2^63, 2^64): the product has 127 or 128 bits.
    const Product p = multiply_wide(a.significand_, b.significand_);
    const int exponent = a.exponent_ + b.exponent_;
    if ((p.high >> 63) != 0)
        return Extended::rounded(p.high, exponent + 1, (p.low >> 63) != 0, (p.low << 1) != 0);
    const std::uint64_t high = (p.high << 1) | (p.low >> 63);
    const std::uint64_t rest = p.low << 1;
    return Extended::rounded(high, exponent, (rest >> 63) != 0, (rest << 1) != 0);
}

Extended operator/(const Extended& a, const Extended& b)
{
    if (a.is_zero())
        return Extended();
    const std::uint64_t divisor = b.significand_;
    int exponent = a.exponent_ - b.exponent_;
    // The partial remainder is `carry`:`remainder`, 65 bits. Start so that
    // the first quotient bit is the integer bit.
    std::uint64_t remainder = a.significand_;
    bool carry = false;
    if (remainder < divisor) {
        carry = true;   // the significand's top bit, shifted out
        remainder <<= 1;
        --exponent;
    }
    // Restoring division: one quotient bit per step, 64 significand bits,
    // then the round bit; what remains decides the sticky bit.
    auto next_bit = [&]() {
        const bool one = carry || remainder >= divisor;
        if (one)
            remainder -= divisor;   // wraps to the right value when carry is set
        return one;
    };
    std::uint64_t quotient = 0;
    for (int bit = 0; bit < 64; ++bit) {
        quotient = (quotient << 1) | (next_bit() ? 1u : 0u);
        carry = (remainder >> 63) != 0;
        remainder <<= 1;
    }
    const bool round_bit = next_bit();
    return Extended::rounded(quotient, exponent, round_bit, remainder != 0);
}

bool operator==(const Extended& a, const Extended& b)
{
    return a.significand_ == b.significand_ && a.exponent_ == b.exponent_;
}

bool operator<(const Extended& a, const Extended& b)
{
    if (a.is_zero() || b.is_zero())
        return a.is_zero() && !b.is_zero();
    if (a.exponent_ != b.exponent_)
        return a.exponent_ < b.exponent_;
    return a.significand_ < b.significand_;
}

Extended round_to_integer(const Extended& value)
{
    const int exponent = value.exponent();
    if (value.is_zero() || exponent >= 63)
        return value;   // no fraction bits
    if (exponent < -1)
        return Extended();   // below one half
    const std::uint64_t significand = value.significand();
    if (exponent == -1)   // [1/2, 1): one half itself goes to the even 0
        return Extended::from_uint((significand << 1) != 0 ? 1 : 0);
    const int fraction_bits = 63 - exponent;   // 1 to 63
    std::uint64_t integer = significand >> fraction_bits;
    const std::uint64_t fraction = significand << (64 - fraction_bits);
    const bool round_bit = (fraction >> 63) != 0;
    const bool sticky = (fraction << 1) != 0;
    if (round_bit && (sticky || (integer & 1) != 0))
        ++integer;
    return Extended::from_uint(integer);
}

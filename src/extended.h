// A non-negative number in the 80-bit extended format, computed in integer
// arithmetic: a 64-bit significand with an explicit integer bit, each
// product and quotient rounded to 64 bits, to nearest with ties to even.
// The summary line's texts depend on these exact roundings, and neither
// every compiler nor every target gives `long double` this format.
#pragma once

#include <cstdint>

class Extended {
public:
    // Zero.
    Extended() = default;

    // The integer itself; every 64-bit value is exact.
    static Extended from_uint(std::uint64_t value);

    // significand × 2^power_of_two, exact.
    static Extended from_parts(std::uint64_t significand, int power_of_two);

    bool is_zero() const { return significand_ == 0; }

    // Bit 63 is the integer bit; 0 for zero.
    std::uint64_t significand() const { return significand_; }

    // e with 2^e ≤ value < 2^(e+1); 0 for zero.
    int exponent() const { return exponent_; }

    // The integer part; the value must be below 2^64.
    std::uint64_t to_uint() const;

    friend Extended operator*(const Extended& a, const Extended& b);
    // The divisor must not be zero.
    friend Extended operator/(const Extended& a, const Extended& b);

    friend bool operator==(const Extended& a, const Extended& b);
    friend bool operator<(const Extended& a, const Extended& b);

private:
    // Rounds significand × 2^(exponent − 63), with the bits below the
    // significand summed up as a round bit and a sticky bit.
    static Extended rounded(std::uint64_t significand, int exponent, bool round_bit, bool sticky);

    std::uint64_t significand_ = 0;   // normalised: bit 63 set unless zero
    int exponent_ = 0;
};

inline bool operator!=(const Extended& a, const Extended& b) { return !(a == b); }
inline bool operator>(const Extended& a, const Extended& b) { return b < a; }
inline bool operator<=(const Extended& a, const Extended& b) { return !(b < a); }
inline bool operator>=(const Extended& a, const Extended& b) { return !(a < b); }

// The nearest integer, ties to even (the x87 FRNDINT in its default mode).
Extended round_to_integer(const Extended& value);

// The stream summary line, "(22.1kbps, 22.1kHz, 1ch)...": two figures in
// extended precision, each written with one decimal.
#pragma once

#include <string>

#include "extended.h"

struct FdaInfo;

// ((block_bits × 86.1328125) × channels) / 1000, in this order. The factor
// is 44100 / 512 whatever the stream's own sample rate.
Extended bit_rate_kbps(const FdaInfo& info);

// sample_rate / 1000.
Extended sample_rate_khz(const FdaInfo& info);

// A value as 0.d1d2d3... × 10^exponent: at most 18 digits, none of them a
// leading or trailing "0"; empty digits for zero.
struct DecimalForm {
    std::string digits;
    int exponent = 0;
};

// The value reduced to 18 significant digits (ties to even), then rounded to
// one decimal on those digits, a 5 going up.
DecimalForm decimal_form(const Extended& value);

// The value with exactly one decimal ("22.1"), or in exponent form from
// 10^18 on ("1.58886994779643576E18"). A separator of code 0 is left out.
std::string format_one_decimal(const Extended& value, char decimal_separator);

// "(<kbps>kbps, <kHz>kHz, <channels>ch)...", the channel count read as a
// signed 32-bit number. No line end follows.
std::string format_stream_summary(const FdaInfo& info, char decimal_separator);

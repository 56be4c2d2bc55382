// Writer of AIFF-C files: a FORM "AIFC" holding FVER, COMM, SSND and MARK,
// with the coded payload copied into SSND unchanged.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "fda/fda.h"
#include "platform/platform.h"

// Big-endian encoders. Each returns the bytes of its field in file order,
// most significant first, whatever the host's own byte order.
std::array<unsigned char, 2> swap16(std::uint16_t value);
std::array<unsigned char, 4> swap32(std::uint32_t value);

// `value` as an 80-bit IEEE 754 extended number: sign and 15-bit exponent
// (bias 16383), then the 64-bit significand with its explicit integer bit.
// Exact for every 32-bit value; 0 gives ten zero bytes.
std::array<unsigned char, 10> extended_be(std::uint32_t value);

// A file's conversion failures; the driver writes the message.
enum class AifcWriteError {
    none,
    invalid_format,   // no whole frame size: (block_bits >> 3) * channels is 0
    too_large,        // the FORM size does not fit in 32 bits
    create_failed,
    write_failed,
    input_truncated,  // the input delivered fewer payload bytes than promised
};

const char* aifc_write_error_message(AifcWriteError error);

// What the input does not lend (see ByteSource::lend) goes through one
// buffer of this size, whatever the payload's length. A file of up to about
// 256 KiB is one write; larger buffers measured no faster.
constexpr std::size_t aifc_copy_buffer_size = std::size_t{256} << 10;

// The input's name with the text after its last dot replaced by "aifc", or
// with ".aifc" appended when the name has no dot after its last '\' or ':'.
// `next` steps over one character of the code page, so that the second
// byte of a double-byte character is never taken for a separator.
std::string aifc_output_name(const std::string& input_name,
                             const char* (*next)(const char*) = platform::next_char);

// Whether the stream can be written at all. Called before the output is
// created, so that a refused stream leaves no file behind.
AifcWriteError check_aifc_stream(const FdaStream& stream);

// Creates (or truncates) the output; never the open `input` itself.
AifcWriteError create_aifc_output(const std::string& name, platform::File input,
                                  platform::File& output);

// Writes the whole AIFF-C file to the freshly created `output`, taking the
// payload from `stream.input` (lent where it can, read where it cannot),
// which is left just after it. On an error the output is incomplete and
// the caller removes it.
AifcWriteError write_aifc(platform::File output, const FdaStream& stream);

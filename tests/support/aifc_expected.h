// The AIFF-C file that the writer should produce for a stream, assembled
// here on its own, field by field, for tests of the writer and the program.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "fda/fda.h"
#include "support/fda_builder.h"

std::vector<unsigned char> expected_aifc_file(const FdaInfo& info,
                                              const std::vector<unsigned char>& payload);

// The output for a whole fixture file, as a string of bytes.
std::string expected_aifc_bytes(const fixture::FdaFields& fields);

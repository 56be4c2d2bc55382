// The sample files bundled in examples/: valid streams of several shapes and
// a few damaged files.
#pragma once

#include <string>
#include <vector>

namespace examples {

struct Sample {
    std::string name;
    std::string bytes;
};

std::vector<Sample> samples();

} // namespace examples

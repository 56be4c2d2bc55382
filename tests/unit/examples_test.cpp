#include <gtest/gtest.h>

#include "support/examples.h"
#include "support/fda_builder.h"

// The committed samples are what the generator makes; regenerate them with
// `make_examples examples` after changing it.
TEST(Examples, CommittedSamplesMatchTheGenerator)
{
    for (const examples::Sample& s : examples::samples()) {
        SCOPED_TRACE(s.name);
        EXPECT_EQ(fixture::read_file(std::string(FERNWICK_SOURCE_DIR) + "/examples/" + s.name), s.bytes);
    }
}

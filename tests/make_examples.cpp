// Writes the bundled sample files into the directory given (default: the
// current one). The samples are committed; a test checks that this program
// still makes them byte for byte.
#include <cstdio>
#include <string>

#include "support/fda_builder.h"
#include "support/examples.h"

int main(int argc, char** argv)
{
    const std::string dir = argc > 1 ? argv[1] : ".";
    for (const examples::Sample& s : examples::samples()) {
        if (!fixture::write_file(dir + "/" + s.name, s.bytes)) {
            std::fprintf(stderr, "cannot write %s/%s\n", dir.c_str(), s.name.c_str());
            return 1;
        }
    }
    return 0;
}

#include "fernwick.h"

int main(int argc, char** argv)
{
    platform::exit_process(fernwick_main(argc, argv));
}

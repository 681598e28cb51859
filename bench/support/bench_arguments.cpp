#include "bench/support/bench_arguments.h"

#include <algorithm>
#include <cstdlib>

namespace qmbench {

int ReadsArgument(int argc, char** argv, int byDefault) {
    return argc > 1 ? std::max(10, std::atoi(argv[1])) : byDefault;
}

}  // namespace qmbench

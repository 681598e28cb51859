// The benchmarks' common first argument: how many reads each figure takes.
#pragma once

namespace qmbench {

// argv[1] as a count of reads, at least 10; byDefault without it.
int ReadsArgument(int argc, char** argv, int byDefault);

}  // namespace qmbench

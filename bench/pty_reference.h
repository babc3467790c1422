#pragma once
// What a pseudo-terminal pair carries with no protocol at all: the bound on every unpaced
// figure, since the tool and lrzsz both move their bytes through one.
#include <cstddef>

namespace kestal::bench {

// MB/s of `bytes` written to the terminal side in `writeSize` pieces (as the tool writes its
// blocks) and read on the master side, both raw; 0 when the pair cannot be set up.
double RawPtyMBps(size_t bytes, size_t writeSize);

}  // namespace kestal::bench

#pragma once
// What a pseudo-terminal pair carries with no protocol at all: the bound on every unpaced
// figure, since the tool and lrzsz both move their bytes through one.
#include <cstddef>

namespace kestal::bench {

// MB/s of `bytes` written to the terminal side in `writeSize` pieces (as the tool writes its
// blocks) and read on the master side, both raw; 0 when the pair cannot be set up.
double RawPtyMBps(size_t bytes, size_t writeSize);

// MB/s of `bytes` fetched as a receiver fetches them, one block per exchange and nothing else:
// the master side writes a request as long as a block request frame and reads the answer, as
// long as a data frame of `blockSize`; a thread on the terminal side answers each request with
// one write. The bound on any protocol that asks for each block and waits for it.
double LockStepPtyMBps(size_t bytes, size_t blockSize);

}  // namespace kestal::bench

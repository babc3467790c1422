#pragma once
// The data the benchmark moves, made once per run in a scratch directory.
#include <cstddef>
#include <string>

namespace kestal::bench {

// Deterministic random bytes: nothing for zlib to gain.
void WriteRandomFile(const std::string& path, size_t size, unsigned seed);
// A channel list as text records with repeating structure: compresses like the real thing.
void WriteChannelListFile(const std::string& path, size_t size, unsigned seed);

}  // namespace kestal::bench

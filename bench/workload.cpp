#include "bench/workload.h"

#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace kestal::bench {

void WriteRandomFile(const std::string& path, size_t size, unsigned seed) {
  std::mt19937_64 random(seed);
  std::vector<uint64_t> words((size + 7) / 8);
  for (uint64_t& word : words) word = random();
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(words.data()),
                                              static_cast<std::streamsize>(size));
}

void WriteChannelListFile(const std::string& path, size_t size, unsigned seed) {
  static const char* const kNames[] = {"News", "Sport", "Movies", "Music", "Kids", "Docs",
                                       "Weather", "Shop", "Radio", "Series"};
  std::mt19937 random(seed);
  std::string text;
  text.reserve(size + 128);
  for (unsigned channel = 1; text.size() < size; ++channel) {
    char record[128];
    const int n = std::snprintf(
        record, sizeof record, "CH%06u|%s %u|sat=%u|freq=%u|sr=%u|pol=%c|sid=%u|pid=%u,%u\n",
        channel, kNames[random() % 10], static_cast<unsigned>(random() % 100),
        static_cast<unsigned>(random() % 4), 10700 + static_cast<unsigned>(random() % 2050),
        22000 + static_cast<unsigned>(random() % 8) * 500, random() % 2 ? 'H' : 'V',
        static_cast<unsigned>(random() % 65536), static_cast<unsigned>(random() % 8192),
        static_cast<unsigned>(random() % 8192));
    text.append(record, static_cast<size_t>(n));
  }
  text.resize(size);
  std::ofstream(path, std::ios::binary).write(text.data(), static_cast<std::streamsize>(size));
}

}  // namespace kestal::bench

#include "e2e/e2e_support.h"

#include <stdlib.h>

#include <fstream>
#include <iterator>
#include <stdexcept>

namespace kestal::e2e {

ScratchDir::ScratchDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "kestal-e2e-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  m_path = pattern;
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  std::filesystem::remove_all(m_path, ignored);
}

std::vector<uint8_t> TestBytes(size_t size, uint32_t seed) {
  std::vector<uint8_t> data(size);
  uint32_t x = seed * 2654435761u + 1;
  for (auto& b : data) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = static_cast<uint8_t>(x >> 7);
  }
  return data;
}

void WriteBytes(const std::string& path, const std::vector<uint8_t>& data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

Sim StartSim(const std::vector<std::string>& args) {
  Sim sim;
  sim.process = std::make_unique<ChildProcess>(SimPath(), args);
  sim.device = sim.process->FirstStdoutLine(10s);
  if (sim.device.empty()) {
    ADD_FAILURE() << "kestal-sim did not start: " << sim.process->StderrJoined();
  }
  return sim;
}

std::unique_ptr<ChildProcess> StartCli(const std::vector<std::string>& args, ChildSetup setup) {
  return std::make_unique<ChildProcess>(CliPath(), args, setup);
}

std::string ExamplePath(const std::string& name) {
  return std::string(KESTAL_SOURCE_DIR) + "/examples/" + name;
}

}  // namespace kestal::e2e

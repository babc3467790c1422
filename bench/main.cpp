// kestal-bench BUILD_DIR: the figures of docs/performance.md, each against its target, as a
// Markdown table on stdout. Drives the built kestal-sim, kestal-cli and
// kestal-window-bench as processes.
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <sstream>

#include "bench/paced_run.h"
#include "bench/packing.h"
#include "bench/process.h"

namespace {

using namespace kestal::bench;
namespace fs = std::filesystem;

constexpr int kRuns = 3;  // scheduling on a shared machine is noisy: medians of three runs
constexpr size_t kMB = 1024 * 1024;

void WriteRandomFile(const std::string& path, size_t size, unsigned seed) {
  std::mt19937_64 random(seed);
  std::vector<uint64_t> words((size + 7) / 8);
  for (uint64_t& word : words) word = random();
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(words.data()), static_cast<std::streamsize>(size));
}

// Text records like a receiver's channel list: compresses about fourfold.
void WriteChannelListFile(const std::string& path, size_t size) {
  std::mt19937 random(22);
  std::string text;
  while (text.size() < size) {
    char record[96];
    const int n = std::snprintf(record, sizeof record, "CH%06zu|%s %u|freq=%u|pol=%c|sid=%u\n",
                                text.size() / 48, random() % 2 ? "News" : "Sport",
                                static_cast<unsigned>(random() % 100),
                                10700 + static_cast<unsigned>(random() % 2050),
                                random() % 2 ? 'H' : 'V', static_cast<unsigned>(random() % 65536));
    text.append(record, static_cast<size_t>(n));
  }
  std::ofstream(path, std::ios::binary).write(text.data(), static_cast<std::streamsize>(size));
}

std::string Fixed(double value, int decimals) {
  char text[32];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

std::string Row(const std::string& what, const std::string& measured, const std::string& target,
                bool met) {
  return "| " + what + " | " + measured + " | " + target + " | " + (met ? "yes" : "**no**") +
         " |\n";
}

// The median of one figure over the runs.
double Median(const std::vector<PacedFigures>& runs, double PacedFigures::*figure) {
  std::vector<double> values;
  for (const PacedFigures& run : runs) values.push_back(run.*figure);
  return Percentile(values, 0.5);
}

std::string PacedRows(const std::string& what, const std::vector<PacedFigures>& runs) {
  for (const PacedFigures& run : runs) {
    if (!run.ok) return Row(what, "failed: " + run.failure, "", false);
  }
  const double ceiling = runs.front().ceilingBps;
  const double rate = Median(runs, &PacedFigures::achievedBps);
  const double cpu = 100 * Median(runs, &PacedFigures::cpuShare);
  const double median = Median(runs, &PacedFigures::medianUs);
  const double p99 = Median(runs, &PacedFigures::p99Us);
  return Row(what + ": payload rate",
             Fixed(rate, 0) + " B/s = " + Fixed(100 * rate / ceiling, 1) + " % of the ceiling " +
                 Fixed(ceiling, 0) + " B/s",
             ">= 99 %", rate >= 0.99 * ceiling) +
         Row(what + ": sender CPU", Fixed(cpu, 2) + " % of one core", "< 1 %", cpu < 1) +
         Row(what + ": turnaround median / p99",
             Fixed(median, 0) + " / " + Fixed(p99, 0) + " us over " +
                 std::to_string(runs.front().answers) + " answers",
             "< 1000 us", p99 < 1000);
}

std::string PackingRow(const std::string& what, const PackingFigures& f) {
  if (f.imageRatio == 0) return Row(what, "failed: no image", "", false);
  return Row(what,
             Fixed(f.packMBps, 1) + " MB/s, image " + Fixed(f.imageRatio, 2) +
                 " x the file; zlib alone " + Fixed(f.zlibMBps, 1) + " MB/s",
             "within 10 % of zlib", f.packMBps >= 0.9 * f.zlibMBps);
}

// The window in command-line mode sending a 64 MB Software image (unpaced) to the emulator, off
// screen, three times, with private settings and runtime directories so the user's own stay
// untouched (the runs before do not look at either).
std::string WindowRow(const std::string& build, const std::string& work) {
  const std::string what = "Longest handler on the window thread during a 64 MB transfer";
  const std::string file = work + "/big.ird", config = work + "/config", runtime = work + "/run";
  WriteRandomFile(file, 64 * kMB, 21);
  fs::create_directories(config + "/ostrel");
  fs::create_directories(runtime);
  fs::permissions(runtime, fs::perms::owner_all);
  std::ofstream(config + "/ostrel/pelmar.conf")
      << "[General]\nport=Virtual Port (benchwin)\nmode=0\nsoftfile=" << file << "\n";
  ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
  ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  std::vector<double> runs;
  std::string byRun;
  for (int run = 0; run < kRuns; ++run) {
    Process sim({build + "/src/sim/kestal-sim", "--name", "benchwin", "download", "--mode",
                 "software", "--size", std::to_string(64 * kMB), "--block-size", "16384"},
                work + "/window.sim.log");
    if (sim.ReadLine().empty()) return Row(what, "failed: kestal-sim did not start", "", false);
    Process window({build + "/bench/kestal-window-bench", file}, work + "/window.log");
    runs.push_back(-1);
    const bool ok = window.Wait(120).status == 0 && sim.Wait(30).status == 0;
    std::istringstream(window.ReadLine()) >> runs.back();
    if (!ok || runs.back() < 0)
      return Row(what, "failed: the transfer did not complete", "", false);
    byRun += (byRun.empty() ? "" : " / ") + Fixed(runs.back(), 2);
  }
  const double median = Percentile(runs, 0.5);
  return Row(what, Fixed(median, 2) + " ms (runs: " + byRun + ")", "< 16 ms", median < 16);
}

std::string Measure(const std::string& build, const std::string& work) {
  const std::string sim = build + "/src/sim/kestal-sim", cli = build + "/src/cli/kestal-cli";
  auto progress = [](const std::string& what) { std::cerr << "bench: " << what << std::endl; };
  const std::string software = work + "/paced.ird", served = work + "/served.fdu";
  WriteRandomFile(software, 300 * 1024, 11);
  WriteRandomFile(served, 60 * 1024, 12);
  std::vector<PacedFigures> downloads, uploads;
  for (int run = 1; run <= kRuns; ++run) {
    progress("paced runs " + std::to_string(run) + " of " + std::to_string(kRuns));
    downloads.push_back(RunPaced(sim, cli, work, false, software));
    uploads.push_back(RunPaced(sim, cli, work, true, served));
  }
  std::string table = "| Measurement | Kestal | Target | Met |\n|---|---|---|---|\n" +
                      PacedRows("Paced Software download, 300 KB, 1024-byte blocks", downloads) +
                      PacedRows("Paced Channels upload, 60 KB, 255-byte blocks", uploads);
  progress("packing, 16 MB channel list and 16 MB random data");
  const std::string channels = work + "/channels.fdu", random = work + "/random.fdu";
  WriteChannelListFile(channels, 16 * kMB);
  WriteRandomFile(random, 16 * kMB, 23);
  table += PackingRow("PackChannelImage, 16 MB channel list", MeasurePacking(channels, 5)) +
           PackingRow("PackChannelImage, 16 MB random data", MeasurePacking(random, 5));
  if (::access((build + "/bench/kestal-window-bench").c_str(), X_OK) == 0) {
    progress("the window off screen, sending 64 MB");
    table += WindowRow(build, work);
  }
  return table;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string build = argc == 2 ? argv[1] : "";
  if (::access((build + "/src/cli/kestal-cli").c_str(), X_OK) != 0) {
    std::cerr << "usage: kestal-bench BUILD_DIR, with kestal-sim and kestal-cli built there\n";
    return 2;
  }
  char work[] = "/tmp/kestal-bench.XXXXXX";
  if (::mkdtemp(work) == nullptr) return 1;
  const std::string table = Measure(build, work);
  std::cout << table;
  std::filesystem::remove_all(work);
  return table.find("**no**") == std::string::npos ? 0 : 1;
}

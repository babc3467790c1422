// kestal-bench BUILD_DIR: the figures of docs/performance.md, each against its target, as a
// Markdown table on stdout. Drives the built kestal-sim, kestal-cli and
// kestal-window-bench as processes.
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>

#include "bench/measures.h"
#include "bench/process.h"

namespace {

using namespace kestal::bench;

constexpr int kRuns = 3;  // scheduling on a shared machine is noisy: medians of three runs
constexpr size_t kMB = 1024 * 1024;

std::string WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
  return path;
}

std::string RandomBytes(size_t size, unsigned seed) {
  std::mt19937_64 random(seed);
  std::string bytes(size, '\0');
  for (char& byte : bytes) byte = static_cast<char>(random());
  return bytes;
}

// Text records like a receiver's channel list: compresses about fourfold.
std::string ChannelList(size_t size) {
  std::mt19937 random(22);
  std::string text;
  for (size_t channel = 0; text.size() < size; ++channel) {
    text += "CH" + std::to_string(channel) + (random() % 2 ? "|News " : "|Sport ") +
            std::to_string(random() % 100) + "|freq=" + std::to_string(10700 + random() % 2050) +
            "|sid=" + std::to_string(random() % 65536) + "\n";
  }
  text.resize(size);
  return text;
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

std::string Failed(const std::string& what, const std::string& why) {
  return Row(what, "failed: " + why, "", false);
}

// Each figure's median over the runs; a failed run stands for them all.
PacedFigures Medians(const std::vector<PacedFigures>& runs) {
  for (const PacedFigures& run : runs)
    if (!run.failure.empty()) return run;
  PacedFigures medians = runs.front();
  for (double PacedFigures::*figure : {&PacedFigures::achievedBps, &PacedFigures::cpuShare,
                                       &PacedFigures::medianUs, &PacedFigures::p99Us}) {
    std::vector<double> values;
    for (const PacedFigures& run : runs) values.push_back(run.*figure);
    medians.*figure = Percentile(values, 0.5);
  }
  return medians;
}

std::string Rate(const PacedFigures& f) {
  return Fixed(f.achievedBps, 0) + " B/s = " + Fixed(100 * f.achievedBps / f.ceilingBps, 1) +
         " % of the ceiling " + Fixed(f.ceilingBps, 0) + " B/s";
}

std::string PacedRows(const std::string& what, const PacedFigures& f) {
  if (!f.failure.empty()) return Failed(what, f.failure);
  return Row(what + ": payload rate", Rate(f), ">= 99 %", f.achievedBps >= 0.99 * f.ceilingBps) +
         Row(what + ": sender CPU", Fixed(100 * f.cpuShare, 2) + " % of one core", "< 1 %",
             f.cpuShare < 0.01) +
         Row(what + ": turnaround median / p99",
             Fixed(f.medianUs, 0) + " / " + Fixed(f.p99Us, 0) + " us", "< 1000 us", f.p99Us < 1000);
}

// What an adapter's hold costs a user; the tool cannot shorten it, so there is no target.
std::string HeldRow(const std::string& what, const PacedFigures& held, const PacedFigures& bare) {
  if (!held.failure.empty()) return Failed(what, held.failure);
  const std::string share = Fixed(100 * held.achievedBps / bare.achievedBps, 1);
  return Row(what + ": payload rate", Rate(held) + "; " + share + " % of the rate without the hold",
             "reported", true);
}

std::string PackingRow(const std::string& what, const std::string& path, const std::string& data) {
  const PackingFigures f = MeasurePacking(WriteFile(path, data), data, 5);
  if (f.imageRatio == 0) return Failed(what, "no image");
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
  const std::string file = WriteFile(work + "/big.ird", RandomBytes(64 * kMB, 21));
  const std::string config = work + "/config";
  std::filesystem::create_directories(config + "/ostrel");
  WriteFile(config + "/ostrel/pelmar.conf",
            "[General]\nport=Virtual Port (benchwin)\nmode=0\nsoftfile=" + file + "\n");
  ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
  ::setenv("XDG_RUNTIME_DIR", work.c_str(), 1);  // mkdtemp made it the owner's alone
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  std::vector<double> runs;
  for (int run = 0; run < kRuns; ++run) {
    Process sim({build + "/src/sim/kestal-sim", "--name", "benchwin", "download", "--mode",
                 "software", "--size", std::to_string(64 * kMB), "--block-size", "16384"},
                work + "/window.sim.log");
    if (sim.ReadLine().empty()) return Failed(what, "kestal-sim did not start");
    Process window({build + "/bench/kestal-window-bench", file}, work + "/window.log");
    const bool ok = window.Wait(120).status == 0 && sim.Wait(30).status == 0;
    const std::string longestMs = window.ReadLine();
    if (!ok || longestMs.empty()) return Failed(what, "the transfer did not complete");
    runs.push_back(std::stod(longestMs));
  }
  const double median = Percentile(runs, 0.5);
  return Row(what, Fixed(median, 2) + " ms", "< 16 ms", median < 16);
}

// What --record costs: the same paced download recorded, against the rate without.
std::string RecordedRows(const std::string& what, const PacedFigures& recorded,
                         const PacedFigures& bare) {
  if (!recorded.failure.empty()) return Failed(what, recorded.failure);
  const double share = recorded.achievedBps / bare.achievedBps;
  return Row(what + ": payload rate",
             Rate(recorded) + "; " + Fixed(100 * share, 1) + " % of the rate without recording",
             ">= 99 % of it", share >= 0.99) +
         Row(what + ": sender CPU",
             Fixed(100 * recorded.cpuShare, 2) + " % of one core; " +
                 Fixed(100 * bare.cpuShare, 2) + " % without recording",
             "< 1 %", recorded.cpuShare < 0.01);
}

// One station serving N paced Software downloads side by side: the slowest port against the
// ceiling (every port >= 98 % at N = 16) and the station's CPU (< 50 % of one core at N = 32).
std::string StationRows(const std::string& build, const std::string& work) {
  const std::string file = WriteFile(work + "/station.ird", RandomBytes(150 * 1024, 31));
  std::string rows;
  for (const int ports : {1, 4, 16, 32}) {
    std::cerr << "bench: station with " << ports << " ports" << std::endl;
    const std::string what = "Station, " + std::to_string(ports) +
                             " paced Software downloads side by side, 150 KB, 1024-byte blocks";
    const StationFigures f = RunStationPaced(build, work, ports, file);
    if (!f.failure.empty()) {
      rows += Failed(what, f.failure);
      continue;
    }
    const bool rateTarget = ports <= 16, cpuTarget = ports == 32;
    rows += Row(what + ": slowest port",
                Fixed(f.slowestBps, 0) + " B/s = " + Fixed(100 * f.slowestBps / f.ceilingBps, 1) +
                    " % of the ceiling " + Fixed(f.ceilingBps, 0) + " B/s",
                rateTarget ? ">= 98 %" : "reported",
                !rateTarget || f.slowestBps >= 0.98 * f.ceilingBps) +
            Row(what + ": station CPU", Fixed(100 * f.cpuShare, 2) + " % of one core",
                cpuTarget ? "< 50 %" : "reported", !cpuTarget || f.cpuShare < 0.5);
  }
  return rows;
}

constexpr const char* kTableHead = "| Measurement | Kestal | Target | Met |\n|---|---|---|---|\n";

// `only`: "--recording-only", just the paced download with and without --record;
// "--station-only", just the station's rows.
std::string Measure(const std::string& build, const std::string& work, const std::string& only) {
  if (only == "--station-only") return kTableHead + StationRows(build, work);
  const bool recordingOnly = only == "--recording-only";
  const std::string software = WriteFile(work + "/paced.ird", RandomBytes(300 * 1024, 11));
  const std::string served = WriteFile(work + "/served.fdu", RandomBytes(60 * 1024, 12));
  // In turns, so a slow spell of the machine falls on all alike.
  std::vector<PacedFigures> downloads, uploads, held, recorded;
  for (int run = 1; run <= kRuns; ++run) {
    std::cerr << "bench: paced runs " << run << " of " << kRuns << std::endl;
    downloads.push_back(RunPaced(build, work, false, software));
    recorded.push_back(RunPaced(build, work, false, software, 0, work + "/paced.rec"));
    if (recordingOnly) continue;
    uploads.push_back(RunPaced(build, work, true, served));
    held.push_back(RunPaced(build, work, false, software, 16));
  }
  const std::string download = "Paced Software download, 300 KB, 1024-byte blocks";
  const std::string recordedRows =
      RecordedRows(download + ", recorded", Medians(recorded), Medians(downloads));
  if (recordingOnly) return kTableHead + PacedRows(download, Medians(downloads)) + recordedRows;
  std::string table =
      kTableHead + PacedRows(download, Medians(downloads)) +
      PacedRows("Paced Channels upload, 60 KB, 255-byte blocks", Medians(uploads)) +
      HeldRow(download + ", 16 ms adapter hold", Medians(held), Medians(downloads)) + recordedRows +
      StationRows(build, work);
  table += PackingRow("PackChannelImage, 16 MB channel list", work + "/channels.fdu",
                      ChannelList(16 * kMB)) +
           PackingRow("PackChannelImage, 16 MB random data", work + "/random.fdu",
                      RandomBytes(16 * kMB, 23));
  if (::access((build + "/bench/kestal-window-bench").c_str(), X_OK) == 0)
    table += WindowRow(build, work);
  return table;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string build = argc >= 2 ? argv[1] : "";
  const std::string only = argc == 3 ? argv[2] : "";
  const bool known = only.empty() || only == "--recording-only" || only == "--station-only";
  if (argc < 2 || argc > 3 || !known ||
      ::access((build + "/src/cli/kestal-cli").c_str(), X_OK) != 0) {
    std::cerr << "usage: kestal-bench BUILD_DIR [--recording-only | --station-only], with "
                 "kestal-sim and kestal-cli built there\n";
    return 2;
  }
  char work[] = "/tmp/kestal-bench.XXXXXX";
  if (::mkdtemp(work) == nullptr) return 1;
  const std::string table = Measure(build, work, only);
  std::cout << table;
  std::filesystem::remove_all(work);
  return table.find("**no**") == std::string::npos ? 0 : 1;
}

#include "bench/report.h"

#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace kestal::bench {
namespace {

std::string Format(const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

std::string Verdict(bool met) { return met ? "yes" : "**no**"; }

// " (runs: a / b / c unit)", each value scaled and printed with `format`.
std::string ByRun(const std::vector<double>& values, const char* format, double scale = 1) {
  if (values.size() < 2) return "";
  std::string text = " (runs: ";
  for (size_t i = 0; i < values.size(); ++i) {
    if (i > 0) text += " / ";
    text += Format(format, values[i] * scale);
  }
  return text + ")";
}

std::string Row(const std::string& what, const std::string& kestal, const std::string& reference,
                const std::string& target, const std::string& met) {
  return "| " + what + " | " + kestal + " | " + reference + " | " + target + " | " + met + " |\n";
}

double MBps(size_t bytes, double seconds) {
  return seconds > 0 ? static_cast<double>(bytes) / 1e6 / seconds : 0;
}

double CpuPerMB(double cpuSeconds, size_t bytes) {
  return cpuSeconds / (static_cast<double>(bytes) / 1e6);
}

std::string PacedRows(const std::string& name, const PacedResult& r) {
  if (!r.ok) return Row(name, "FAILED: " + r.failure, "", "", "**no**");
  const double fraction = r.achievedBps / r.ceilingBps;
  std::string rows;
  rows += Row(name + ": payload rate",
              Format("%.0f B/s = ", r.achievedBps) + Format("%.1f %% of the ceiling", fraction * 100) +
                  ByRun(r.fractionByRun, "%.1f %%", 100),
              Format("ceiling %.0f B/s", r.ceilingBps) + Format(" (%.0f payload / ", r.payloadPerBlock) +
                  Format("%.0f line bytes per block)", r.wireBytesPerBlock),
              ">= 99 %", Verdict(fraction >= 0.99));
  rows += Row(name + ": sender CPU",
              Format("%.2f %% of one core", r.cpuShare * 100) + ByRun(r.cpuShareByRun, "%.2f %%", 100),
              "",
              "< 1 %", Verdict(r.cpuShare < 0.01));
  rows += Row(name + ": turnaround median / p99 / max",
              Format("%.0f", r.turnaroundMedianUs) + Format(" / %.0f", r.turnaroundP99Us) +
                  Format(" / %.0f us", r.turnaroundMaxUs) + ByRun(r.p99ByRun, "p99 %.0f us"),
              std::to_string(r.blocks) + " answers per run", "p99 < 1000 us",
              Verdict(r.turnaroundP99Us < 1000));
  return rows;
}

std::string UnpacedCell(const UnpacedResult& r, size_t bytes) {
  if (!r.ok) return "FAILED: " + r.failure;
  std::vector<double> rates;
  for (double seconds : r.secondsByRun) rates.push_back(MBps(bytes, seconds));
  return Format("%.1f MB/s", MBps(bytes, r.seconds)) + ByRun(rates, "%.1f") + ", " +
         Format("%.4f CPU s/MB", CpuPerMB(r.tool.cpuSeconds, bytes)) +
         Format(" (emulator %.4f CPU s/MB)", CpuPerMB(r.sim.cpuSeconds, bytes));
}

std::string FirstLineOf(const std::string& path, const std::string& key) {
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(key, 0) == 0) {
      const size_t colon = line.find(':');
      return colon == std::string::npos ? line : line.substr(colon + 2);
    }
  }
  return "unknown";
}

}  // namespace

std::string DescribeMachine() {
  utsname uts{};
  ::uname(&uts);
  char date[64];
  const std::time_t now = std::time(nullptr);
  std::strftime(date, sizeof date, "%Y-%m-%d %H:%M %Z", std::localtime(&now));
  return "- nproc: " + std::to_string(std::thread::hardware_concurrency()) +
         "\n- CPU: " + FirstLineOf("/proc/cpuinfo", "model name") + "\n- kernel: " + uts.sysname +
         " " + uts.release + " " + uts.machine + "\n- date: " + date + "\n";
}

std::string Report::PacedMarkdown() const {
  std::string md = "| Measurement | Kestal | Reference (same run) | Target | Met |\n";
  md += "|---|---|---|---|---|\n";
  md += PacedRows("Paced Software download, 300 KB, 1024-byte blocks", pacedDownload);
  md += PacedRows("Paced upload, 60 KB, 255-byte blocks", pacedUpload);
  return md;
}

std::string Report::Markdown() const {
  std::string md = PacedMarkdown();

  const LrzszResult& best =
      lrzszSenderOnMaster.ok && (!lrzszSenderOnSlave.ok ||
                                 lrzszSenderOnMaster.seconds < lrzszSenderOnSlave.seconds)
          ? lrzszSenderOnMaster
          : lrzszSenderOnSlave;
  const double lrzszMBps = best.ok ? MBps(softwareBytes, best.seconds) : 0;
  const double softwareMBps = software.ok ? MBps(softwareBytes, software.seconds) : 0;
  std::string lrzszCell = "lrzsz not available";
  if (lrzszAvailable) {
    lrzszCell = "sz/rz " + Format("%.1f MB/s, ", lrzszMBps) +
                Format("%.4f CPU s/MB", CpuPerMB(best.cpuSeconds, softwareBytes)) +
                " (faster orientation; sender on the terminal side: " +
                (lrzszSenderOnSlave.ok ? Format("%.1f MB/s", MBps(softwareBytes, lrzszSenderOnSlave.seconds))
                                       : std::string("failed")) +
                ", on the master side: " +
                (lrzszSenderOnMaster.ok ? Format("%.1f MB/s", MBps(softwareBytes, lrzszSenderOnMaster.seconds))
                                        : std::string("failed")) +
                ")";
  }
  if (rawPtyMBps > 0) {
    lrzszCell += Format("; the pseudo-terminal pair alone, no protocol: %.1f MB/s", rawPtyMBps);
  }
  if (lockStepPtyMBps > 0) {
    lrzszCell += "; a bare request and answer per block over the pair, nothing else: " +
                 Format("%.1f MB/s", lockStepPtyMBps);
  }
  // The bare exchange's own ratio beside kestal's: how near 2x the protocol itself came.
  std::string ratios;
  if (lrzszMBps > 0) {
    ratios = Format(" (%.1fx", softwareMBps / lrzszMBps);
    if (lockStepPtyMBps > 0) {
      ratios += Format("; the bare exchange: %.1fx", lockStepPtyMBps / lrzszMBps);
    }
    ratios += ")";
  }
  md += Row("Unpaced Software download, 64 MB, 16 KB blocks", UnpacedCell(software, softwareBytes),
            lrzszCell, ">= 2x lrzsz",
            Verdict(lrzszAvailable && softwareMBps >= 2 * lrzszMBps) + ratios);
  const double packSeconds =
      packCompressible.packMBps > 0 ? static_cast<double>(channelsBytes) / 1e6 / packCompressible.packMBps : 0;
  md += Row("Unpaced Channels download, 16 MB channel list (file bytes)",
            UnpacedCell(channels, channelsBytes),
            Format("packing alone %.1f MB/s: ", packCompressible.packMBps) +
                Format("%.0f %% of the transfer time", channels.seconds > 0 ? packSeconds / channels.seconds * 100 : 0),
            "limited by packing",
            Verdict(channels.ok && packSeconds >= 0.5 * channels.seconds));
  md += Row("Unpaced upload, 4 MB, 255-byte blocks", UnpacedCell(upload, uploadBytes), "", "", "");

  const auto packRow = [&md](const std::string& what, const PackingResult& r) {
    const double share = r.zlibMBps > 0 ? r.packMBps / r.zlibMBps : 0;
    md += Row("PackChannelImage, 16 MB " + what,
              Format("%.1f MB/s", r.packMBps) + Format(" (image %.2f x the file)", r.imageRatio),
              Format("zlib compress2 + uncompress of the same chunks: %.1f MB/s", r.zlibMBps),
              "within 10 % of zlib", Verdict(share >= 0.9) + Format(" (%.0f %%)", share * 100));
  };
  packRow("compressible channel list", packCompressible);
  packRow("random data", packRandom);

  if (!windowBuilt) {
    md += Row("Window", "not built (KESTAL_BUILD_UI=OFF)", "", "", "");
  } else if (!window.ok) {
    md += Row("Window", "FAILED: " + window.failure, "", "", "**no**");
  } else {
    md += Row("Window start-up to the first painted frame (offscreen)",
              Format("%.0f ms", window.startupMs), "", "", "");
    md += Row("Peak resident memory during a 64 MB Software transfer",
              "kestal " + Format("%.1f MB", static_cast<double>(window.peakRssKb) / 1024) +
                  ", kestal-cli " +
                  Format("%.1f MB", static_cast<double>(software.tool.peakRssKb) / 1024) +
                  " (Channels 16 MB: " +
                  Format("%.1f MB)", static_cast<double>(channels.tool.peakRssKb) / 1024),
              "", "", "");
    md += Row("Longest handler on the window thread during the transfer",
              Format("%.2f ms", window.longestPassMs) + ByRun(window.longestPassMsByRun, "%.2f") +
                  " (event type " +
                  std::to_string(window.eventsInLongestPass) + "; " +
                  std::to_string(window.passes) + " events timed; transfer " +
                  Format("%.1f s)", window.seconds),
              Format("longest before the first frame: %.1f ms", window.longestStartupPassMs),
              "< 16 ms", Verdict(window.longestPassMs < 16));
  }
  md += "\nMachine:\n\n" + machine;
  return md;
}

}  // namespace kestal::bench

#include "bench/measures.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <deque>
#include <fstream>
#include <functional>
#include <memory>

#include "bench/process.h"
#include "common/byte_order.h"
#include "link/frame_codec.h"

namespace kestal::bench {
namespace {

using namespace std::chrono_literals;

constexpr unsigned kBaud = 115200;
// Every frame carries sync 5, header 4 and sum 1 around its payload.
constexpr size_t kFrameBytes = 10;
constexpr uint16_t kRequestPayload = 6;  // of a block request
constexpr uint16_t kDownloadBlock = 1024;
constexpr uint16_t kUploadBlock = 255;  // what the receiver serves per block

// A frame of the receiver's, handed to the tool whole at `at`.
struct ReceiverFrame {
  Clock::time_point at;
  uint8_t command = 0;
  uint16_t length = 0;
};

// What the relay saw: the receiver's frames, each at the moment its last byte was handed to
// the tool, and each moment the tool's bytes were found waiting after a quiet line (an
// answer's first byte is one).
struct LineRecord {
  std::string received;  // the receiver's bytes not yet part of a whole frame
  std::vector<ReceiverFrame> frames;
  std::vector<Clock::time_point> toolStarts;
};

// Notes the receiver's frames (sync, sequence, command, length, payload, sum) that the bytes
// handed to the tool `at` completed; anything between frames is skipped.
void NoteFrames(LineRecord& record, std::string_view bytes, Clock::time_point at) {
  std::string& received = record.received;
  received.append(bytes);
  const std::string_view sync(reinterpret_cast<const char*>(kFrameSync), sizeof kFrameSync);
  for (size_t start; (start = received.find(sync)) != std::string::npos;) {
    if (start + 9 > received.size()) return;  // the header is still on its way
    const auto* header = reinterpret_cast<const uint8_t*>(received.data() + start + sync.size());
    const uint16_t length = GetBE16(header + 2);
    const size_t end = start + kFrameBytes + length;
    if (end > received.size()) return;
    record.frames.push_back({at, header[1], length});
    received.erase(0, end);
  }
}

bool WriteAll(int fd, std::string_view bytes) {
  for (ssize_t n = 0; !bytes.empty(); bytes.remove_prefix(static_cast<size_t>(n)))
    if ((n = ::write(fd, bytes.data(), bytes.size())) <= 0) return false;
  return true;
}

const auto kByteTime = std::chrono::nanoseconds(10'000'000'000LL / kBaud);  // 8N1: 10 bits
constexpr size_t kPieceBytes = kBaud / 10 / 1000;  // about a millisecond of line time
// A timer wakes the relay some tens of microseconds late. For the last piece of a transmission,
// the one the far end answers, it wakes this much early and waits out the rest awake.
constexpr auto kWakeEarly = 100us;

// One direction of the line: what one side writes reaches the other a piece at a time, each
// piece once the line has carried its last byte, as the far end of a serial line has a byte only
// after its stop bit. Bytes written while the line is busy follow without a gap; after a pause
// the line starts afresh, so no credit is banked.
class LineDirection {
 public:
  LineDirection(int from, int to) : from_(from), to_(to) {}

  // Takes what `from` has written, at `now`; true when that starts a transmission.
  bool Take(Clock::time_point now) {
    char bytes[4096];
    const ssize_t n = ::read(from_, bytes, sizeof bytes);
    const bool starts = n > 0 && pieces_.empty();
    if (starts) lineFree_ = now;
    for (ssize_t at = 0; at < n; at += kPieceBytes) {
      const std::string piece(bytes + at, std::min<size_t>(kPieceBytes, n - at));
      pieces_.push_back({lineFree_ += kByteTime * piece.size(), piece});
    }
    return starts;
  }

  // When the relay must be awake for the next piece; never when none waits.
  Clock::time_point WakeAt() const {
    if (pieces_.empty()) return Clock::time_point::max();
    return pieces_.front().due - (pieces_.size() == 1 ? kWakeEarly : 0us);
  }

  // Hands on the pieces due by now, and the last one if it is due within kWakeEarly, once it
  // is; returns what it handed.
  std::string HandDue() {
    std::string handed;
    for (; WakeAt() <= Clock::now(); pieces_.pop_front()) {
      while (Clock::now() < pieces_.front().due) {
      }
      if (WriteAll(to_, pieces_.front().bytes)) handed += pieces_.front().bytes;
    }
    return handed;
  }

 private:
  struct Piece {
    Clock::time_point due;
    std::string bytes;
  };

  int from_, to_;
  std::deque<Piece> pieces_;
  Clock::time_point lineFree_{};  // when the last byte taken will have crossed
};

// One line between a tool's port and an emulator, and what was seen on it.
struct Line {
  Line(int tool, int sim) : toSim(tool, sim), toTool(sim, tool) {
    record.frames.reserve(1 << 16);  // no allocation while the stopwatch runs
    record.toolStarts.reserve(1 << 16);
  }
  LineDirection toSim, toTool;
  LineRecord record;
};

// Carries bytes both ways on every line at the line's pace until `ended` says so.
std::vector<LineRecord> Relay(const std::vector<std::pair<int, int>>& toolAndSim,
                              const std::function<bool()>& ended) {
  ::prctl(PR_SET_TIMERSLACK, 1UL);  // wake on time, not up to 50 us late
  std::deque<Line> lines;
  std::vector<pollfd> fds;
  for (const auto& [tool, sim] : toolAndSim) {
    lines.emplace_back(tool, sim);
    fds.push_back({sim, POLLIN, 0});
    fds.push_back({tool, POLLIN, 0});
  }
  const auto deadline = Clock::now() + 300s;
  while (!ended() && Clock::now() < deadline) {
    auto wake = Clock::time_point::max();
    for (const Line& line : lines)
      wake = std::min({wake, line.toSim.WakeAt(), line.toTool.WakeAt()});
    const auto wait = std::clamp<Clock::duration>(wake - Clock::now(), 0ns, 5ms);
    const timespec timeout{0, std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count()};
    ::ppoll(fds.data(), fds.size(), &timeout, nullptr);
    const auto now = Clock::now();
    for (size_t i = 0; i < lines.size(); ++i) {
      Line& line = lines[i];
      pollfd& sim = fds[2 * i];
      if (sim.revents & POLLIN) line.toTool.Take(now);
      if (sim.revents & (POLLHUP | POLLERR)) sim.fd = -1;  // the emulator has gone
      if ((fds[2 * i + 1].revents & POLLIN) && line.toSim.Take(now))
        line.record.toolStarts.push_back(now);
    }
    for (Line& line : lines) {
      line.toSim.HandDue();
      if (const std::string handed = line.toTool.HandDue(); !handed.empty())
        NoteFrames(line.record, handed, Clock::now());
    }
  }
  std::vector<LineRecord> records;
  for (const Line& line : lines) records.push_back(line.record);
  return records;
}

// A download's exchange starts with the receiver's block request, an upload's ends with its
// block. The rate comes from the steady state: the mean time between successive full-size
// exchanges, the start-up and the shorter last block left out. A turnaround runs from the
// receiver's frame to the first byte of the tool's answer, when that came before its next frame.
PacedFigures Figures(const LineRecord& record, const Usage& tool, bool upload) {
  const uint8_t command = upload ? CMD_BLOCK_DATA : CMD_BLOCK_REQUEST;
  const uint16_t payload = upload ? kUploadBlock : kDownloadBlock;
  const uint16_t length = upload ? kUploadBlock : kRequestPayload;
  const std::vector<ReceiverFrame>& frames = record.frames;
  const auto& starts = record.toolStarts;
  std::vector<Clock::time_point> full;
  std::vector<double> turnarounds;
  for (size_t i = 0; i < frames.size(); ++i) {
    if (frames[i].command != command) continue;
    if (frames[i].length == length) full.push_back(frames[i].at);
    const auto answer = std::lower_bound(starts.begin(), starts.end(), frames[i].at);
    if (answer == starts.end() || (i + 1 < frames.size() && *answer > frames[i + 1].at)) continue;
    turnarounds.push_back(
        std::chrono::duration<double, std::micro>(*answer - frames[i].at).count());
  }
  if (full.size() < 2 || turnarounds.empty()) return {"no block exchange seen on the line"};
  const std::chrono::duration<double> span = full.back() - full.front();
  return {.ceilingBps = kBaud / 10.0 * payload / (2 * kFrameBytes + kRequestPayload + payload),
          .achievedBps = payload * static_cast<double>(full.size() - 1) / span.count(),
          .cpuShare = tool.cpuSeconds / tool.wallSeconds,
          .medianUs = Percentile(turnarounds, 0.5),
          .p99Us = Percentile(turnarounds, 0.99)};
}

std::string LastLine(const std::string& path) {
  std::ifstream in(path);
  std::string line, last;
  while (std::getline(in, line)) last = line.empty() ? last : line;
  return last;
}

}  // namespace

double Percentile(std::vector<double> values, double fraction) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const auto rank = static_cast<size_t>(std::ceil(fraction * static_cast<double>(values.size())));
  return values[std::clamp<size_t>(rank, 1, values.size()) - 1];
}

PacedFigures RunPaced(const std::string& build, const std::string& work, bool upload,
                      const std::string& file, unsigned holdMs, const std::string& recording) {
  const std::string logs = work + (upload ? "/upload" : "/download"), simLog = logs + ".sim.log";
  // The relay is the line both ways, so the emulator writes unpaced.
  std::vector<std::string> simArgv = {build + "/src/sim/kestal-sim", "--hold-ms",
                                      std::to_string(holdMs)};
  if (upload) {
    simArgv.insert(simArgv.end(), {"upload", "--serve", file});
  } else {
    simArgv.insert(simArgv.end(), {"download", "--mode", "software", "--expect", file,
                                   "--block-size", std::to_string(kDownloadBlock)});
  }
  Process emulator(simArgv, simLog);
  // The emulator's end of its pseudo-terminal is raw already.
  const int simFd = ::open(emulator.ReadLine().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  // The tool's end of the line; the relay keeps its own handle on it, so the master reads no
  // hang-up before the tool has opened it.
  int toolMaster = -1, toolSlave = -1;
  char toolDevice[PATH_MAX] = {};
  if (simFd < 0 || ::openpty(&toolMaster, &toolSlave, toolDevice, nullptr, nullptr) != 0)
    return {"no line to kestal-sim: " + LastLine(simLog)};
  std::vector<std::string> toolArgv = {build + "/src/cli/kestal-cli", upload ? "receive" : "send",
                                       "--port", toolDevice};
  if (!recording.empty()) toolArgv.insert(toolArgv.end(), {"--record", recording});
  toolArgv.push_back(upload ? work + "/received.fdu" : file);
  Process tool(toolArgv, logs + ".cli.log");
  const LineRecord record =
      Relay({{toolMaster, simFd}}, [&] { return tool.Ended() && emulator.Ended(); }).front();
  for (int fd : {simFd, toolMaster, toolSlave}) ::close(fd);
  const Usage toolUsage = tool.Wait(0), simUsage = emulator.Wait(0);
  if (toolUsage.status != 0 || simUsage.status != 0) {
    return {"kestal-cli exit " + std::to_string(toolUsage.status) + ", kestal-sim exit " +
            std::to_string(simUsage.status) + ": " + LastLine(simLog)};
  }
  return Figures(record, toolUsage, upload);
}

// Each receiver an emulator behind a line of its own; the station serves them all.
StationFigures RunStationPaced(const std::string& build, const std::string& work, int ports,
                               const std::string& file) {
  struct Receiver {
    std::unique_ptr<Process> sim;
    int simFd = -1, toolMaster = -1, toolSlave = -1;
  };
  std::vector<Receiver> receivers(static_cast<size_t>(ports));
  std::vector<std::pair<int, int>> lines;
  std::string devices;
  for (size_t i = 0; i < receivers.size(); ++i) {
    Receiver& receiver = receivers[i];
    receiver.sim = std::make_unique<Process>(
        std::vector<std::string>{build + "/src/sim/kestal-sim", "download", "--mode", "software",
                                 "--expect", file, "--block-size", std::to_string(kDownloadBlock)},
        work + "/station" + std::to_string(i) + ".sim.log");
    receiver.simFd = ::open(receiver.sim->ReadLine().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    char device[PATH_MAX] = {};
    if (receiver.simFd < 0 ||
        ::openpty(&receiver.toolMaster, &receiver.toolSlave, device, nullptr, nullptr) != 0) {
      return {"no line to kestal-sim " + std::to_string(i)};
    }
    lines.emplace_back(receiver.toolMaster, receiver.simFd);
    devices += (i == 0 ? "" : ",") + std::string(device);
  }
  Process station(
      {build + "/src/cli/kestal-cli", "station", "--ports", devices, "--progress=json", file},
      work + "/station.log", work + "/station.events");
  const std::vector<LineRecord> records = Relay(lines, [&] {
    return std::all_of(receivers.begin(), receivers.end(),
                       [](Receiver& receiver) { return receiver.sim->Ended(); });
  });
  station.Signal(SIGINT);  // every receiver has been served
  const Usage usage = station.Wait(30);
  StationFigures figures;
  for (size_t i = 0; i < receivers.size(); ++i) {
    for (int fd : {receivers[i].simFd, receivers[i].toolMaster, receivers[i].toolSlave})
      ::close(fd);
    if (const int status = receivers[i].sim->Wait(0).status; status != 0) {
      return {"kestal-sim " + std::to_string(i) + " exit " + std::to_string(status) + ": " +
              LastLine(work + "/station" + std::to_string(i) + ".sim.log")};
    }
    const PacedFigures line = Figures(records[i], usage, false);
    if (!line.failure.empty()) return {"port " + std::to_string(i) + ": " + line.failure};
    figures.ceilingBps = line.ceilingBps;
    figures.slowestBps = i == 0 ? line.achievedBps : std::min(figures.slowestBps, line.achievedBps);
  }
  if (usage.status != 0) {
    return {"kestal-cli station exit " + std::to_string(usage.status) + ": " +
            LastLine(work + "/station.log")};
  }
  figures.cpuShare = usage.cpuSeconds / usage.wallSeconds;
  return figures;
}

}  // namespace kestal::bench

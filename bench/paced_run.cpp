#include "bench/paced_run.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/prctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <fstream>

#include "bench/process.h"
#include "common/byte_order.h"
#include "link/frame_codec.h"

namespace kestal::bench {
namespace {

using namespace std::chrono_literals;

constexpr unsigned kBaud = 115200;
constexpr double kLineBytesPerSecond = kBaud / 10.0;
// Every frame carries sync 5, header 4 and sum 1 around its payload.
constexpr size_t kFrameBytes = 10;
constexpr uint16_t kRequestPayload = 6;  // of a block request
constexpr unsigned kDownloadBlock = 1024;
constexpr uint16_t kUploadBlock = 255;  // what the receiver serves per block

// A frame of the receiver's, handed to the tool whole at `at`.
struct ReceiverFrame {
  Clock::time_point at;
  uint8_t command = 0;
  uint16_t length = 0;
};

// What the relay saw: the receiver's bytes with the moments they were handed to the tool
// (how many by then), and each moment the tool's bytes were found waiting after a quiet line
// (an answer's first byte is one).
struct LineRecord {
  std::string received;
  std::vector<std::pair<size_t, Clock::time_point>> handed;
  std::vector<Clock::time_point> toolStarts;
};

// The receiver's frames (sync, sequence, command, length, payload, sum), each at the moment
// its last byte was handed to the tool; anything between frames is skipped.
std::vector<ReceiverFrame> Frames(const LineRecord& record) {
  const std::string& bytes = record.received;
  const std::string sync(std::begin(kFrameSync), std::end(kFrameSync));
  std::vector<ReceiverFrame> frames;
  auto handed = record.handed.begin();
  for (size_t at = bytes.find(sync); at != std::string::npos && at + 9 <= bytes.size();) {
    const auto* header = reinterpret_cast<const uint8_t*>(bytes.data() + at + sizeof kFrameSync);
    const size_t end = at + kFrameBytes + GetBE16(header + 2);
    while (handed != record.handed.end() && handed->first < end) ++handed;
    if (handed == record.handed.end()) break;
    frames.push_back({handed->second, header[1], GetBE16(header + 2)});
    at = bytes.find(sync, end);
  }
  return frames;
}

bool WriteAll(int fd, const uint8_t* data, size_t size) {
  for (ssize_t n = 0; size > 0; data += n, size -= static_cast<size_t>(n)) {
    if ((n = ::write(fd, data, size)) <= 0) return false;
  }
  return true;
}

// Carries bytes both ways until both programs have ended. The emulator paces its own bytes
// (kestal-sim --baud), so they pass straight through; the tool's go on at the line's pace in
// pieces of about a millisecond. A piece that was already waiting continues the stream from
// where the line stands, so the relay's own wake-up delays never add up to line time; after a
// pause the line starts afresh, so no credit is banked.
LineRecord Relay(int tool, int sim, Process& toolProcess, Process& simProcess) {
  ::prctl(PR_SET_TIMERSLACK, 1UL);  // wake on time, not up to 50 us late
  const auto byteTime = std::chrono::nanoseconds(10'000'000'000LL / kBaud);
  LineRecord record;
  record.received.reserve(1 << 20);  // no allocation while the stopwatch runs
  record.handed.reserve(1 << 16);
  record.toolStarts.reserve(1 << 16);
  uint8_t fromSim[4096];
  uint8_t fromTool[kBaud / 10 / 1000];
  size_t piece = 0;  // bytes in `fromTool` waiting for the line
  bool backlog = false;
  Clock::time_point lineFree{};
  const auto deadline = Clock::now() + 300s;
  while (!(toolProcess.Ended() && simProcess.Ended()) && Clock::now() < deadline) {
    pollfd fds[2] = {{sim, POLLIN, 0}, {tool, static_cast<short>(piece == 0 ? POLLIN : 0), 0}};
    const auto wait = piece > 0 ? std::max(lineFree - Clock::now(), Clock::duration{}) : 5ms;
    const timespec timeout{0, std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count()};
    ::ppoll(fds, 2, &timeout, nullptr);
    const auto now = Clock::now();
    if (fds[0].revents & POLLIN) {
      const ssize_t n = ::read(sim, fromSim, sizeof fromSim);
      if (n > 0 && WriteAll(tool, fromSim, static_cast<size_t>(n))) {
        record.received.append(reinterpret_cast<const char*>(fromSim), static_cast<size_t>(n));
        record.handed.emplace_back(record.received.size(), Clock::now());
      }
    }
    if (fds[0].revents & (POLLHUP | POLLERR)) ::usleep(5000);  // the emulator has gone
    if (fds[1].revents & POLLIN) {
      if (!backlog) record.toolStarts.push_back(now);
      const ssize_t n = ::read(tool, fromTool, sizeof fromTool);
      piece = n > 0 ? static_cast<size_t>(n) : 0;
      if (!backlog && now > lineFree + 100us) lineFree = now;
      lineFree += byteTime * piece;
    }
    if (piece > 0 && Clock::now() >= lineFree) {
      WriteAll(sim, fromTool, piece);
      piece = 0;
      pollfd pending{tool, POLLIN, 0};
      backlog = ::poll(&pending, 1, 0) > 0;
    }
  }
  return record;
}

// From each block frame of the receiver handed to the tool to the first byte of the tool's
// answer, when the answer came before the receiver's next frame.
std::vector<double> Turnarounds(const std::vector<ReceiverFrame>& frames,
                                const std::vector<Clock::time_point>& toolStarts, uint8_t command) {
  std::vector<double> result;
  for (size_t i = 0; i < frames.size(); ++i) {
    const ReceiverFrame& frame = frames[i];
    const auto answer = std::lower_bound(toolStarts.begin(), toolStarts.end(), frame.at);
    if (frame.command != command || answer == toolStarts.end()) continue;
    if (i + 1 < frames.size() && *answer > frames[i + 1].at) continue;
    result.push_back(std::chrono::duration<double, std::micro>(*answer - frame.at).count());
  }
  return result;
}

// The steady state: mean time between successive full-size block exchanges (the receiver's
// frames of `command`, `length` payload bytes), the start-up and the shorter last block left out.
double MeanPeriodSeconds(const std::vector<ReceiverFrame>& frames, uint8_t command,
                         uint16_t length) {
  std::vector<Clock::time_point> at;
  for (const ReceiverFrame& f : frames) {
    if (f.command == command && f.length == length) at.push_back(f.at);
  }
  if (at.size() < 2) return 0;
  return std::chrono::duration<double>(at.back() - at.front()).count() /
         static_cast<double>(at.size() - 1);
}

int OpenRaw(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  termios tio{};
  if (fd >= 0 && ::tcgetattr(fd, &tio) == 0) {
    ::cfmakeraw(&tio);
    ::tcsetattr(fd, TCSANOW, &tio);
  }
  return fd;
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

PacedFigures RunPaced(const std::string& sim, const std::string& cli, const std::string& work,
                      bool upload, const std::string& file) {
  PacedFigures result;
  const std::string logs = work + (upload ? "/upload" : "/download");
  const std::string simLog = logs + ".sim.log";
  std::vector<std::string> simArgv = {sim, "--baud", std::to_string(kBaud)};
  if (upload) {
    simArgv.insert(simArgv.end(), {"upload", "--serve", file});
  } else {
    simArgv.insert(simArgv.end(), {"download", "--mode", "software", "--expect", file,
                                   "--block-size", std::to_string(kDownloadBlock)});
  }
  Process emulator(simArgv, simLog);
  const int simFd = OpenRaw(emulator.ReadLine());
  // The tool's end of the line; the relay keeps its own handle on it, so the master reads no
  // hang-up before the tool has opened it.
  int toolMaster = -1, toolSlave = -1;
  char toolDevice[PATH_MAX] = {};
  if (simFd < 0 || ::openpty(&toolMaster, &toolSlave, toolDevice, nullptr, nullptr) != 0) {
    result.failure = "no line to kestal-sim: " + LastLine(simLog);
    return result;
  }
  Process tool({cli, upload ? "receive" : "send", "--port", toolDevice,
                upload ? work + "/received.fdu" : file},
               logs + ".cli.log");
  const LineRecord record = Relay(toolMaster, simFd, tool, emulator);
  for (int fd : {simFd, toolMaster, toolSlave}) ::close(fd);
  const Usage toolUsage = tool.Wait(0), simUsage = emulator.Wait(0);
  if (toolUsage.status != 0 || simUsage.status != 0) {
    result.failure = "kestal-cli exit " + std::to_string(toolUsage.status) + ", kestal-sim exit " +
                     std::to_string(simUsage.status) + ": " + LastLine(simLog);
    return result;
  }
  // A download's exchange starts with the receiver's block request, an upload's ends with its
  // block.
  const uint8_t command = upload ? CMD_BLOCK_DATA : CMD_BLOCK_REQUEST;
  const double payload = upload ? kUploadBlock : kDownloadBlock;
  const std::vector<ReceiverFrame> frames = Frames(record);
  const double period = MeanPeriodSeconds(frames, command, upload ? kUploadBlock : kRequestPayload);
  const std::vector<double> turnarounds = Turnarounds(frames, record.toolStarts, command);
  result.ceilingBps = kLineBytesPerSecond * payload / (2 * kFrameBytes + kRequestPayload + payload);
  result.achievedBps = period > 0 ? payload / period : 0;
  result.cpuShare = toolUsage.cpuSeconds / toolUsage.wallSeconds;
  result.medianUs = Percentile(turnarounds, 0.5);
  result.p99Us = Percentile(turnarounds, 0.99);
  result.answers = turnarounds.size();
  result.ok = !turnarounds.empty() && period > 0;
  if (!result.ok) result.failure = "no block exchange seen on the line";
  return result;
}

}  // namespace kestal::bench

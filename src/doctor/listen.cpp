#include "doctor/listen.h"

#include <cstdio>

#include "link/frame_codec.h"
#include "link/frame_scanner.h"
#include "link/open_failure.h"
#include "link/serial_link.h"
#include "transfer/transfer_controller.h"

namespace kestal::doctor {
namespace {

// What came back after the burst.
struct Heard {
  size_t bytes = 0;
  std::vector<LineUnit> frames;  // with a good sum
  bool echo = false;             // the burst itself came back
  bool hungUp = false;
};

bool IsRequest(const LineUnit& unit) {
  return unit.kind == LineUnit::Kind::Frame && unit.sumOk && unit.Command() == CMD_REQUEST;
}

std::string Format(const char* format, auto... values) {
  char text[160];
  std::snprintf(text, sizeof text, format, values...);
  return text;
}

Heard Gather(SerialLink& link, double seconds) {
  Heard heard;
  FrameScanner scanner;
  const auto keep = [&heard](LineUnit&& unit) {
    if (unit.kind == LineUnit::Kind::Burst) heard.echo = true;
    if (unit.kind == LineUnit::Kind::Frame && unit.sumOk) heard.frames.push_back(std::move(unit));
  };
  const Clock& clock = link.GetClock();
  const uint64_t deadline = clock.NowMs() + static_cast<uint64_t>(seconds * 1000.0);
  while (link.IsOpen() && clock.NowMs() < deadline && !link.IsHungUp()) {
    link.WaitForData(deadline);
    uint8_t bytes[512];
    for (size_t n; (n = link.Queue().PopChunk(bytes, sizeof bytes)) > 0;) {
      heard.bytes += n;
      scanner.Feed(bytes, n, keep);
    }
    if (!heard.frames.empty() && IsRequest(heard.frames.back())) return heard;
  }
  scanner.Finish(keep);
  heard.hungUp = link.IsHungUp();
  return heard;
}

Check Judge(const Heard& heard, double seconds) {
  const std::string within = Format("within %g s", seconds);
  for (const LineUnit& frame : heard.frames) {
    if (!IsRequest(frame)) continue;
    const uint32_t value = frame.PayloadLength() >= 4 ? GetBE32(frame.Payload()) : 0;
    return {"listen", Verdict::Ok,
            Format("the receiver answers: ready to transfer (request seq %02x, value 0x%08x)",
                   frame.Sequence(), value),
            ""};
  }
  if (heard.hungUp) {
    return {"listen", Verdict::Problem, "the port went away while listening",
            "check the adapter's plug and cable"};
  }
  if (!heard.frames.empty()) {
    return {"listen", Verdict::Warning,
            Format("frames came back (%s) but no request", CommandName(heard.frames[0].Command())),
            "the receiver is busy with something else: reset it and listen again"};
  }
  if (heard.echo) {
    return {"listen", Verdict::Problem,
            "the wake-up burst came back as it was sent: the line echoes",
            "a loopback plug or a terminal that echoes is on the line, not the receiver; "
            "check the cable"};
  }
  if (heard.bytes > 0) {
    return {"listen", Verdict::Problem,
            Format("%zu bytes came back %s but never formed a frame", heard.bytes, within.c_str()),
            "the receiver talks at another speed (it must be 115200 8N1), the line is noisy, or "
            "TX and RX are swapped"};
  }
  return {"listen", Verdict::Problem, "nothing came back " + within,
          "check the cable and that this is the receiver's port, and reset the receiver while "
          "doctor listens"};
}

}  // namespace

Check Listen(const PortInfo& port, double seconds, const std::function<void()>& whileOpen,
             std::stop_token stop) {
  SerialLink link;
  link.SetFriendlyName(port.friendlyName);
  const OpenResult opened = link.OpenLink(port.devicePath, kLinkBaud);
  if (opened != OpenResult::Ok) {
    return {"listen", Verdict::Problem, "cannot be opened",
            DescribeOpenFailure(opened, port.devicePath)};
  }
  if (whileOpen) whileOpen();
  Heard heard;
  {
    // Closing the link wakes the wait; the callback is done before the link closes below.
    const std::stop_callback onStop(stop, [&link] { link.CloseLink(); });
    link.SendBytes(WakeUpBurst, sizeof WakeUpBurst);
    heard = Gather(link, seconds);
  }
  link.CloseLink();
  return Judge(heard, seconds);
}

}  // namespace kestal::doctor

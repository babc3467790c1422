#include "cli/transfer_session.h"

#include <atomic>
#include <csignal>

#include "cli/cli_front_end.h"
#include "cli/console_output.h"
#include "cli/event_loop.h"
#include "cli/frame_trace_text.h"
#include "cli/signal_watcher.h"
#include "cli/transfer_recording.h"
#include "link/frame_codec.h"
#include "link/serial_link.h"
#include "transfer/transfer_controller.h"

namespace kestal::cli {

int RunTransfer(const TransferOptions& options, const PortInfo& port, std::FILE* stream,
                bool isTerminal, PortHandOver* handOver) {
  // A reader of our stderr going away (`| head`) must not kill the process mid-transfer.
#ifdef SIGPIPE  // Windows has none: a write to a closed pipe just fails there
  std::signal(SIGPIPE, SIG_IGN);
#endif
  EventLoop loop;
  ConsoleOutput console(stream, isTerminal);
  ConsoleOutput json(stdout, false);
  recording::SessionRecorder recorder;  // outlives the link's threads, which feed it
  SerialLink link;
  const bool recording =
      !options.recordPath.empty() && StartRecording(recorder, options, port, console);
  if (recording) link.SetByteTap(&recorder);
  if (handOver) handOver->Adopt(link);

  // Both hooks run on other threads; everything printed goes through the loop, in order.
  link.SetNoticeHandler([&loop, &console](const std::string& text) {
    loop.Post([&console, text] { console.Line(text); });
  });
  // Any intact frame of the receiver's but a request shows it heard the answer: a port handed
  // over is then the one, whatever becomes of it.
  std::atomic<bool> followedUp = false;
  if (options.trace || handOver != nullptr) {
    link.frameTrace = [&, handOver](bool sent, const uint8_t* body, size_t size, bool intact) {
      if (handOver != nullptr && !sent && intact && body[1] != CMD_REQUEST &&
          !followedUp.exchange(true)) {
        loop.Post([handOver] { handOver->Answered(); });
      }
      if (!options.trace) return;
      loop.Post(
          [&console, line = FormatFrameTrace(sent, body, size, intact)] { console.Line(line); });
    };
  }

  CliFrontEnd frontEnd(loop, options, port, console, json);
  if (handOver != nullptr) {
    frontEnd.SetPassOn([&followedUp, handOver] { return !followedUp && handOver->PassOn(); });
  }
  {
    TransferController controller(link, frontEnd, loop.Calls());
    frontEnd.Attach(controller);
    SignalWatcher signals(
        [&loop, &frontEnd](int) { loop.Post([&frontEnd] { frontEnd.OnSignal(); }); });
    loop.Post([&frontEnd] { frontEnd.Start(); });
    loop.Run();
    // Normally the worker is gone by now. If not (a second signal), release it from any
    // notification it waits in; the controller then ends and joins it.
    loop.Shutdown();
  }
  if (recording) FinishRecording(recorder, frontEnd.GetOutcome(), console);
  return ExitCodeFor(frontEnd.GetOutcome());
}

}  // namespace kestal::cli

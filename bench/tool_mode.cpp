#include "bench/tool_mode.h"

#include <csignal>
#include <cstdio>

#include "bench/frame_timing.h"
#include "cli/cli_front_end.h"
#include "cli/console_output.h"
#include "cli/event_loop.h"
#include "cli/port_choice.h"
#include "cli/transfer_meter.h"
#include "link/serial_link.h"
#include "transfer/note_shortcut.h"
#include "transfer/transfer_controller.h"

namespace kestal::bench {

// As kestal-cli's RunTransfer, without the signal watcher and the trace printing, with the
// recorder on the frame trace beside the meter.
int RunTimedTransfer(const cli::TransferOptions& options, const std::string& timingPath) {
  std::signal(SIGPIPE, SIG_IGN);
  const auto port = cli::ResolvePort(options.port);
  if (!port) return 2;
  cli::EventLoop loop;
  cli::ConsoleOutput console(stderr, false);
  cli::TransferMeter meter;
  FrameTiming timing;
  TransferJob job;
  SerialLink link;
  link.SetNoticeHandler([&loop, &console](const std::string& text) {
    loop.Post([&console, text] { console.Line(text); });
  });
  link.frameTrace = [&meter, &timing](bool sent, const uint8_t* body, size_t size, int result) {
    timing.Record(sent, body, size);
    meter.OnFrame(sent, body, size, result);
  };
  cli::CliFrontEnd frontEnd(loop, job, options, *port, console, meter);
  NoteShortcut notify(frontEnd, job);
  job.m_hNotifyWnd = &notify;
  {
    TransferController controller(job, link, frontEnd);
    frontEnd.Attach(controller);
    loop.Post([&frontEnd] { frontEnd.Start(); });
    loop.Run();
    loop.Shutdown();
  }
  if (!timing.Save(timingPath)) std::fprintf(stderr, "cannot write %s\n", timingPath.c_str());
  return cli::ExitCodeFor(frontEnd.GetOutcome());
}

}  // namespace kestal::bench

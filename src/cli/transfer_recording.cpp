#include "cli/transfer_recording.h"

#include "common/printable.h"
#include "transfer/transfer_controller.h"

namespace kestal::cli {
namespace {

const char* OutcomeName(Outcome outcome) {
  switch (outcome) {
    case Outcome::Completed:
      return "completed";
    case Outcome::Failed:
      return "failed";
    case Outcome::NotStarted:
      return "not started";
    case Outcome::Stopped:
      return "stopped";
    case Outcome::TimedOut:
      return "timed out";
    case Outcome::PassedOn:
      return "passed on";
    case Outcome::Running:
      break;
  }
  return "running";
}

}  // namespace

bool StartRecording(recording::SessionRecorder& recorder, const TransferOptions& options,
                    const PortInfo& port, ConsoleOutput& console) {
  const recording::RecordingHeader header{
      .program = std::string("kestal-cli ") + KESTAL_VERSION,
      .command = options.direction == DIR_TO_RECEIVER ? "send" : "receive",
      .mode = options.mode == MODE_CHANNELS ? "channels" : "software",
      .file = options.file,
      .port = port.devicePath,
      .portName = port.friendlyName,
      .settings = std::to_string(kLinkBaud) + " 8N1"};
  if (recorder.Start(options.recordPath, header)) return true;
  console.Line("Not recording: " + Printable(recorder.Problem()) + ".");
  return false;
}

void FinishRecording(recording::SessionRecorder& recorder, Outcome outcome,
                     ConsoleOutput& console) {
  const std::string problem = recorder.Finish(OutcomeName(outcome), ExitCodeFor(outcome));
  if (!problem.empty()) {
    console.Line("The recording is incomplete: " + Printable(problem) + ".");
  }
}

}  // namespace kestal::cli

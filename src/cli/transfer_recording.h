#pragma once
// --record on send and receive: the session's recording started before the port opens and
// closed with the transfer's outcome. A recording that fails is reported, never the transfer.
#include "cli/cli_front_end.h"
#include "cli/console_output.h"
#include "cli/transfer_options.h"
#include "ports/port_info.h"
#include "recording/session_recorder.h"

namespace kestal::cli {

// Starts `recorder` on options.recordPath; false (and a line on `console`) when it cannot.
bool StartRecording(recording::SessionRecorder& recorder, const TransferOptions& options,
                    const PortInfo& port, ConsoleOutput& console);
// Writes the outcome and closes the recording; a line on `console` when it is incomplete.
void FinishRecording(recording::SessionRecorder& recorder, Outcome outcome, ConsoleOutput& console);

}  // namespace kestal::cli

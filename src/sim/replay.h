#pragma once
// --replay: the receiver's side of a recorded session played against the tool, so that what
// happened on a user's desk happens again here.
#include "recording/recording.h"
#include "sim/session.h"

namespace kestal::sim {

// Sends each piece the receiver sent, in order and with its recorded delay after the tool's
// frame it followed, and waits for each of the tool's frames as the receiver did. Returns 0
// when the tool sent what the recording holds and closed the port, 1 when it went another way
// (reported on the log).
int RunReplayRole(const SimSession& session, const recording::Recording& recording);

}  // namespace kestal::sim

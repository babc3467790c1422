#pragma once
// Measurement aid, off unless KESTAL_MEASURE_HANDLERS names a file: times every pass of the
// window thread's event loop (from waking up to blocking again, which bounds every handler run
// in that pass) and notes when the first frame of a window was painted. The figures are
// written to that file when the process ends.
namespace kestal {

// Call once, right after the QApplication is built. Does nothing without the variable.
void InstallHandlerTiming();

}  // namespace kestal

#pragma once
// The line beside the progress bar: bytes done of the total, the rate and the time left.
#include <QString>
#include <cstdint>

namespace kestal::ui {

// "1.5 MB of 4.0 MB · 120 KB/s · 0:21 left"; only the bytes until a rate can be told
// (`seconds` is the time since the transfer started); empty while the total is unknown.
QString ProgressText(uint64_t bytesDone, uint64_t bytesTotal, double seconds);

}  // namespace kestal::ui

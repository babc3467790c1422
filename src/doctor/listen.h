#pragma once
// --listen: the port opened as a transfer opens it, the wake-up burst sent, and what came back.
#include <functional>
#include <optional>

#include "doctor/doctor_report.h"

namespace kestal::doctor {

// Listens on `port` for up to `seconds`, or until a request comes. `whileOpen` is called once
// the port is open, so the caller can look at the port as a transfer would have it.
Check Listen(const PortInfo& port, double seconds, const std::function<void()>& whileOpen);

}  // namespace kestal::doctor

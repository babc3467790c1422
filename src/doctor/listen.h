#pragma once
// --listen: the port opened as a transfer opens it, the wake-up burst sent, and what came back.
#include <functional>
#include <optional>
#include <stop_token>

#include "doctor/doctor_report.h"

namespace kestal::doctor {

// Listens on `port` for up to `seconds`, until a request comes, or until `stop`. `whileOpen` is
// called once the port is open, so the caller can look at the port as a transfer would have it.
Check Listen(const PortInfo& port, double seconds, const std::function<void()>& whileOpen,
             std::stop_token stop = {});

}  // namespace kestal::doctor

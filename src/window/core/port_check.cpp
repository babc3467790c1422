#include "window/core/port_check.h"

#include <exception>

#include "doctor/doctor.h"

namespace kestal::window {
namespace {

doctor::DoctorReport RunDoctor(const PortList& ports, std::stop_token stop) {
  doctor::DoctorOptions options;
  options.listenSeconds = kCheckListenSeconds;
  options.stop = std::move(stop);
  return doctor::RunDoctor(ports, options);
}

}  // namespace

PortCheck::PortCheck(CallQueue& calls) : calls_(calls), checks_(RunDoctor) {}

bool PortCheck::Start(const PortList& ports, Done done) {
  if (running_) return false;
  if (thread_.joinable()) thread_.join();  // the last check's thread, which has posted its end
  running_ = true;
  thread_ = std::jthread([this, ports, checks = checks_, done](std::stop_token stop) {
    std::string text;
    try {
      text = doctor::ReportText(checks(ports, stop));
    } catch (const std::exception& error) {
      text = std::string("The checks could not run: ") + error.what() + "\n";
    }
    // Dropped once the window has closed.
    calls_.Post([this, text, done] {
      running_ = false;
      done(text);
    });
  });
  return true;
}

}  // namespace kestal::window

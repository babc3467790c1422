// SignalWatcher on Windows: Ctrl-C, Ctrl-Break and the console closing arrive as console control
// events, each on a thread the system starts for it, which is the ordinary thread the loop
// expects. They are passed on as SIGINT (Ctrl-C, Ctrl-Break) and SIGTERM (closing).
#include <windows.h>

#include <csignal>
#include <mutex>
#include <stdexcept>

#include "cli/signal_mask.h"
#include "cli/signal_watcher.h"

namespace kestal::cli {
namespace {

// The handler is process-wide and takes no context: it finds the one live watcher here.
std::mutex watcherMutex;
const std::function<void(int)>* currentHandler = nullptr;

BOOL WINAPI OnConsoleEvent(DWORD event) {
  const int signal = event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT ? SIGINT : SIGTERM;
  std::lock_guard lock(watcherMutex);
  if (currentHandler == nullptr) return FALSE;  // not ours: the default handler ends the process
  (*currentHandler)(signal);
  return TRUE;
}

}  // namespace

SignalWatcher::SignalWatcher(std::function<void(int)> onSignal) : onSignal_(std::move(onSignal)) {
  {
    std::lock_guard lock(watcherMutex);
    currentHandler = &onSignal_;
  }
  if (!SetConsoleCtrlHandler(OnConsoleEvent, TRUE)) {
    std::lock_guard lock(watcherMutex);
    currentHandler = nullptr;
    throw std::runtime_error("cannot watch for console events");
  }
}

SignalWatcher::~SignalWatcher() {
  SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
  std::lock_guard lock(watcherMutex);  // waits for a handler call in progress
  currentHandler = nullptr;
}

void BlockSignalsInThisThread() {}

}  // namespace kestal::cli

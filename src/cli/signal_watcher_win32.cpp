// SignalWatcher on Windows: Ctrl-C, Ctrl-Break and the console closing arrive as console control
// events, each on a thread the system starts for it, which is the ordinary thread the loop
// expects. They are passed on as SIGINT (Ctrl-C, Ctrl-Break) and SIGTERM (closing, logoff,
// shutdown).
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

bool EndsTheProcess(DWORD event) {
  return event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT;
}

BOOL WINAPI OnConsoleEvent(DWORD event) {
  const bool ending = EndsTheProcess(event);
  {
    std::lock_guard lock(watcherMutex);
    if (currentHandler == nullptr) return FALSE;  // not ours: the default handler ends the process
    (*currentHandler)(ending ? SIGTERM : SIGINT);
  }
  // After these events Windows ends the process as soon as a handler returns. Held here, the
  // handler lets the transfer end as stopped (its staged file removed) and the program exit
  // with its own status; Windows' own limit for a handler (about 5 s) still bounds the wait.
  if (ending) Sleep(INFINITE);
  return TRUE;
}

}  // namespace

SignalWatcher::SignalWatcher(std::function<void(int)> onSignal) : onSignal_(std::move(onSignal)) {
  // Added once and never removed: while a handler is held above, the system may keep its list
  // of handlers locked (Wine does), and removing one would then wait for ever.
  static const bool added = SetConsoleCtrlHandler(OnConsoleEvent, TRUE) != 0;
  if (!added) throw std::runtime_error("cannot watch for console events");
  std::lock_guard lock(watcherMutex);
  currentHandler = &onSignal_;
}

SignalWatcher::~SignalWatcher() {
  std::lock_guard lock(watcherMutex);  // waits for a handler call in progress
  currentHandler = nullptr;
}

void BlockSignalsInThisThread() {}

}  // namespace kestal::cli

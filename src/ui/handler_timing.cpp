#include "ui/handler_timing.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QEvent>
#include <QWidget>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace kestal {
namespace {

int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// All fields are touched on the window thread only (the dispatcher's signals, the event
// filter, and the exit handler once main has returned).
struct HandlerTiming {
  std::string path;
  int64_t installedNs = 0;
  int64_t firstPaintNs = 0;  // steady clock, comparable with other processes on this machine
  int64_t passStartNs = 0;
  int64_t longestPassNs = 0;         // after the first paint
  int64_t longestStartupPassNs = 0;  // up to the first paint
  long passes = 0;
  long events = 0;
  long eventsInLongestPass = 0;
  long eventsThisPass = 0;
};

HandlerTiming* g_timing = nullptr;

class FirstPaintFilter : public QObject {
 public:
  bool eventFilter(QObject* watched, QEvent* event) override {
    ++g_timing->events;
    ++g_timing->eventsThisPass;
    if (g_timing->firstPaintNs == 0 && event->type() == QEvent::Paint && watched->isWidgetType() &&
        static_cast<QWidget*>(watched)->isWindow()) {
      g_timing->firstPaintNs = NowNs();
    }
    return false;
  }
};

void OnAwake() {
  g_timing->passStartNs = NowNs();
  g_timing->eventsThisPass = 0;
}

void OnAboutToBlock() {
  HandlerTiming& t = *g_timing;
  if (t.passStartNs == 0) return;
  const int64_t length = NowNs() - t.passStartNs;
  ++t.passes;
  if (t.firstPaintNs == 0) {
    t.longestStartupPassNs = std::max(t.longestStartupPassNs, length);
  } else if (length > t.longestPassNs) {
    t.longestPassNs = length;
    t.eventsInLongestPass = t.eventsThisPass;
  }
}

void WriteTiming() {
  const HandlerTiming& t = *g_timing;
  std::FILE* out = std::fopen(t.path.c_str(), "w");
  if (out == nullptr) return;
  std::fprintf(out,
               "installed_ns %lld\nfirst_paint_ns %lld\nlongest_pass_ns %lld\n"
               "longest_startup_pass_ns %lld\npasses %ld\nevents %ld\nevents_in_longest_pass %ld\n",
               static_cast<long long>(t.installedNs), static_cast<long long>(t.firstPaintNs),
               static_cast<long long>(t.longestPassNs),
               static_cast<long long>(t.longestStartupPassNs), t.passes, t.events,
               t.eventsInLongestPass);
  std::fclose(out);
}

}  // namespace

void InstallHandlerTiming() {
  const char* path = std::getenv("KESTAL_MEASURE_HANDLERS");
  if (path == nullptr || *path == '\0' || g_timing != nullptr) return;
  g_timing = new HandlerTiming;  // lives until the exit handler has written it
  g_timing->path = path;
  g_timing->installedNs = NowNs();
  QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
  if (dispatcher != nullptr) {
    QObject::connect(dispatcher, &QAbstractEventDispatcher::awake, OnAwake);
    QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, OnAboutToBlock);
  }
  qApp->installEventFilter(new FirstPaintFilter);
  std::atexit(WriteTiming);
}

}  // namespace kestal

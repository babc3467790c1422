#include "ui/handler_timing.h"

#include <QEvent>
#include <QThread>
#include <QWidget>
#include <algorithm>
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

// Touched on the window thread only (events of other threads are not timed), and by the exit
// handler once main has returned.
struct HandlerTiming {
  std::string path;
  int64_t firstPaintNs = 0;  // steady clock, comparable with other processes on this machine
  int64_t longestNs = 0;         // after the first paint
  int64_t longestStartupNs = 0;  // up to the first paint
  int longestType = 0;
  long events = 0;
  int depth = 0;
};

HandlerTiming* g_timing = nullptr;

void WriteTiming() {
  const HandlerTiming& t = *g_timing;
  std::FILE* out = std::fopen(t.path.c_str(), "w");
  if (out == nullptr) return;
  std::fprintf(out,
               "first_paint_ns %lld\nlongest_handler_ns %lld\nlongest_startup_handler_ns %lld\n"
               "longest_handler_event_type %d\nevents %ld\n",
               static_cast<long long>(t.firstPaintNs), static_cast<long long>(t.longestNs),
               static_cast<long long>(t.longestStartupNs), t.longestType, t.events);
  std::fclose(out);
}

}  // namespace

TimedApplication::TimedApplication(int& argc, char** argv) : QApplication(argc, argv) {
  const char* path = std::getenv("KESTAL_MEASURE_HANDLERS");
  if (path == nullptr || *path == '\0') return;
  g_timing = new HandlerTiming;  // lives until the exit handler has written it
  g_timing->path = path;
  std::atexit(WriteTiming);
}

bool TimedApplication::notify(QObject* receiver, QEvent* event) {
  if (g_timing == nullptr || thread() != QThread::currentThread()) {
    return QApplication::notify(receiver, event);
  }
  HandlerTiming& t = *g_timing;
  const int type = event->type();
  const bool firstPaint = t.firstPaintNs == 0 && type == QEvent::Paint &&
                          receiver->isWidgetType() && static_cast<QWidget*>(receiver)->isWindow();
  const int64_t start = NowNs();
  ++t.depth;
  const bool handled = QApplication::notify(receiver, event);
  --t.depth;
  const int64_t end = NowNs();
  if (firstPaint) t.firstPaintNs = end;
  if (t.depth > 0) return handled;  // counted in the outermost event that sent it
  ++t.events;
  const int64_t length = end - start;
  if (t.firstPaintNs == 0 || firstPaint) {
    t.longestStartupNs = std::max(t.longestStartupNs, length);
  } else if (length > t.longestNs) {
    t.longestNs = length;
    t.longestType = type;
  }
  return handled;
}

}  // namespace kestal

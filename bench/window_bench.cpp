// kestal-window-bench FILE: the window in command-line mode sending FILE to the port its
// settings name, with every event the window thread handles timed, each outermost delivery
// with all it runs inside. Prints the longest in ms over the events after the first painted
// frame, that is during the transfer; exits as the window does.
#include <QApplication>
#include <QEvent>
#include <QThread>
#include <QWidget>
#include <algorithm>
#include <chrono>
#include <cstdio>

#include "window/qt/main_dialog.h"

namespace {

using Clock = std::chrono::steady_clock;

class TimedApplication : public QApplication {
 public:
  using QApplication::QApplication;

  bool notify(QObject* receiver, QEvent* event) override {
    if (thread() != QThread::currentThread()) return QApplication::notify(receiver, event);
    const bool firstPaint = !painted_ && event->type() == QEvent::Paint &&
                            receiver->isWidgetType() && static_cast<QWidget*>(receiver)->isWindow();
    const auto start = Clock::now();
    ++depth_;
    const bool handled = QApplication::notify(receiver, event);
    --depth_;
    const auto length = Clock::now() - start;
    if (depth_ == 0 && painted_) longest_ = std::max(longest_, length);
    painted_ = painted_ || firstPaint;
    return handled;
  }

  double LongestMs() const { return std::chrono::duration<double, std::milli>(longest_).count(); }

 private:
  int depth_ = 0;
  bool painted_ = false;
  Clock::duration longest_{};
};

}  // namespace

int main(int argc, char** argv) {
  TimedApplication application(argc, argv);
  if (argc < 2) return 2;
  kestal::window::qt::MainDialog dialog(argv[1]);
  dialog.exec();
  std::printf("%.3f\n", application.LongestMs());
  return dialog.ExitStatus();
}

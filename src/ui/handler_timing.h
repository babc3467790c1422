#pragma once
// Measurement aid, off unless KESTAL_MEASURE_HANDLERS names a file: times every event the
// window thread handles (each outermost delivery, with whatever it runs inside) and notes when
// the first frame of a window was painted. The figures are written to that file when the
// process ends.
#include <QApplication>

namespace kestal {

class TimedApplication : public QApplication {
 public:
  TimedApplication(int& argc, char** argv);
  bool notify(QObject* receiver, QEvent* event) override;
};

}  // namespace kestal

#include <QApplication>

#include "ui/app_icon.h"
#include "ui/handler_timing.h"
#include "ui/main_app.h"

int main(int argc, char** argv) {
  kestal::TimedApplication application(argc, argv);  // times handlers with KESTAL_MEASURE_HANDLERS
  QApplication::setApplicationName(QStringLiteral("kestal"));
  QApplication::setWindowIcon(kestal::MakeAppIcon());
  return kestal::MainApp().Run(argc, argv);
}

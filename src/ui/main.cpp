#include <QApplication>

#include "ui/app_icon.h"
#include "ui/handler_timing.h"
#include "ui/main_app.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  kestal::InstallHandlerTiming();  // only with KESTAL_MEASURE_HANDLERS set
  QApplication::setApplicationName(QStringLiteral("kestal"));
  QApplication::setWindowIcon(kestal::MakeAppIcon());
  return kestal::MainApp().Run(argc, argv);
}

#include <QApplication>

#include "ui/app_icon.h"
#include "ui/main_app.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("kestal"));
  QApplication::setWindowIcon(kestal::ui::MakeAppIcon());
  return kestal::ui::MainApp().Run(argc, argv);
}

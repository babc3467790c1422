#include <QApplication>
#include <optional>

#include "common/std_streams.h"
#include "ui/app_icon.h"
#include "ui/main_app.h"
#include "ui/translation.h"

int main(int argc, char** argv) {
  kestal::OpenMissingStdStreams();
  // Before QApplication: these must work without a display.
  if (const std::optional<int> status = kestal::ui::MainApp::InfoOption(argc, argv)) return *status;
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("kestal"));
  QApplication::setWindowIcon(kestal::ui::MakeAppIcon());
  const auto translation = kestal::ui::LoadTranslation(QLocale::system());
  if (translation) QApplication::installTranslator(translation.get());
  return kestal::ui::MainApp().Run(argc, argv);
}

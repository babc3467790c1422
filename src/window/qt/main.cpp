// kestal: the window. `kestal FILE` sends FILE at once (command-line mode); --help and
// --version need no display.
#include <QApplication>
#include <cstdio>
#include <optional>
#include <string>

#include "common/std_streams.h"
#include "window/core/program_info.h"
#include "window/qt/app_icon.h"
#include "window/qt/main_dialog.h"
#include "window/qt/translation.h"

int main(int argc, char** argv) {
  kestal::OpenMissingStdStreams();
  // Only the first argument counts; further ones are ignored.
  const std::string argument = argc > 1 && argv[1] ? argv[1] : "";
  // Before QApplication: these must work without a display.
  if (const std::optional<std::string> info = kestal::window::InfoOptionText(argument)) {
    std::fputs(info->c_str(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
  }
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("kestal"));
  QApplication::setWindowIcon(kestal::window::qt::MakeAppIcon());
  const auto translation = kestal::window::qt::LoadTranslation(QLocale::system());
  if (translation) QApplication::installTranslator(translation.get());
  kestal::window::qt::MainDialog dialog(argument);
  dialog.exec();
  return dialog.ExitStatus();
}

#include "ui/main_app.h"

#include "ui/main_dialog.h"

namespace kestal::ui {

std::string MainApp::FileArgument(int argc, char** argv) {
  return argc > 1 && argv[1] ? std::string(argv[1]) : std::string();
}

int MainApp::Run(int argc, char** argv) {
  MainDialog dialog(FileArgument(argc, argv));
  dialog.exec();
  return dialog.ExitStatus();
}

}  // namespace kestal::ui

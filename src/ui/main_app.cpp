#include "ui/main_app.h"

#include <cstdio>
#include <cstring>

#include "ui/main_dialog.h"

namespace kestal::ui {
namespace {

constexpr const char* kUsage =
    "Usage: kestal [FILE]\n"
    "Opens the Kestal window. With FILE, sends it to the receiver at once (.fdu: channels,\n"
    "anything else: software) and exits: 0 when the transfer completed, 1 otherwise.\n"
    "\n"
    "  --help     print this help and exit\n"
    "  --version  print the version and exit\n";

}  // namespace

std::optional<int> MainApp::InfoOption(int argc, char** argv) {
  if (argc < 2 || !argv[1]) return std::nullopt;
  if (std::strcmp(argv[1], "--help") == 0) {
    std::fputs(kUsage, stdout);
  } else if (std::strcmp(argv[1], "--version") == 0) {
    std::printf("kestal %s\n", KESTAL_VERSION);
  } else {
    return std::nullopt;
  }
  return std::fflush(stdout) == 0 ? 0 : 1;
}

std::string MainApp::FileArgument(int argc, char** argv) {
  return argc > 1 && argv[1] ? std::string(argv[1]) : std::string();
}

int MainApp::Run(int argc, char** argv) {
  MainDialog dialog(FileArgument(argc, argv));
  dialog.exec();
  return dialog.ExitStatus();
}

}  // namespace kestal::ui

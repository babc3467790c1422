#pragma once
// The application: builds the main window with the first command-line argument (a file to
// send at once, or nothing), runs it until it closes, and returns the exit status.
#include <optional>
#include <string>

namespace kestal::ui {

class MainApp {
 public:
  // Call with a QApplication in place; argv as left by it.
  int Run(int argc, char** argv);

  // --help or --version as the first argument: prints to stdout and returns the exit status;
  // nullopt for anything else. Needs no QApplication.
  static std::optional<int> InfoOption(int argc, char** argv);

  // The file argument: argv[1], empty when absent; further arguments are ignored.
  static std::string FileArgument(int argc, char** argv);
};

}  // namespace kestal::ui

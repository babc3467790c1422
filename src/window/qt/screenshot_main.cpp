// kestal-screenshot OUT.png: renders the main window off screen as it looks after start-up
// and saves it. Boxes the window would show are printed instead.
#include <QApplication>
#include <QPixmap>
#include <cstdio>

#include "window/qt/main_dialog.h"

namespace {

class ScreenshotDialog : public kestal::window::qt::MainDialog {
 public:
  ScreenshotDialog() : MainDialog(std::string()) {}

  void ShowBox(const std::string& text, const std::string& caption) override {
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
  }
};

}  // namespace

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("kestal"));
  if (argc != 2) {
    std::fprintf(stderr, "usage: kestal-screenshot OUT.png\n");
    return 2;
  }
  ScreenshotDialog dialog;
  dialog.show();
  QApplication::processEvents();
  if (!dialog.grab().save(QString::fromLocal8Bit(argv[1]), "PNG")) {
    std::fprintf(stderr, "cannot write %s\n", argv[1]);
    return 1;
  }
  dialog.close();
  return 0;
}

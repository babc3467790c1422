#pragma once
#include <QDialog>

namespace kestal::window::qt {

// The About box: program name and version, copyright and licence, and an OK button.
class AboutDialog : public QDialog {
 public:
  explicit AboutDialog(QWidget* parent = nullptr);
};

}  // namespace kestal::window::qt

#pragma once
#include <QDialog>

namespace kestal::ui {

// The About box: program name and version, and an OK button.
class AboutDialog : public QDialog {
 public:
  explicit AboutDialog(QWidget* parent = nullptr);
};

}  // namespace kestal::ui

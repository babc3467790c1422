#pragma once
#include <QDialog>
#include <QString>

namespace kestal::window::qt {

// A report to read and pass on (Check Port's): the text read-only in a fixed-width font, a
// Copy button that puts it all on the clipboard, and OK.
class ReportDialog : public QDialog {
 public:
  ReportDialog(const QString& title, const QString& text, QWidget* parent = nullptr);
};

}  // namespace kestal::window::qt

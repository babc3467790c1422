#include "window/qt/report_dialog.h"

#include <QClipboard>
#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace kestal::window::qt {
namespace {

// Wide enough for a check's line and its advice, tall enough for a port and the machine.
constexpr int kColumns = 100;
constexpr int kLines = 20;

}  // namespace

ReportDialog::ReportDialog(const QString& title, const QString& text, QWidget* parent)
    : QDialog(parent) {
  setWindowTitle(title);
  auto* view = new QPlainTextEdit(text, this);
  view->setObjectName(QStringLiteral("reportText"));
  view->setReadOnly(true);
  view->setLineWrapMode(QPlainTextEdit::NoWrap);
  view->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  const QFontMetrics metrics(view->font());
  view->setMinimumSize(metrics.horizontalAdvance(QLatin1Char('x')) * kColumns,
                       metrics.lineSpacing() * kLines);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  QPushButton* copy = buttons->addButton(QStringLiteral("Copy"), QDialogButtonBox::ActionRole);
  copy->setObjectName(QStringLiteral("copyButton"));
  copy->setAutoDefault(false);
  buttons->button(QDialogButtonBox::Ok)->setDefault(true);
  connect(copy, &QPushButton::clicked, this,
          [text] { QGuiApplication::clipboard()->setText(text); });
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(view);
  layout->addWidget(buttons);
}

}  // namespace kestal::window::qt

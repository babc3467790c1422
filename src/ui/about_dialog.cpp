#include "ui/about_dialog.h"

#include <QCoreApplication>
#include <QLabel>
#include <QPushButton>

#include "ui/app_icon.h"
#include "ui/dialog_units.h"

namespace kestal::ui {
namespace {

constexpr int kWidthDlu = 235;
constexpr int kHeightDlu = 55;
constexpr DialogRect kIconRect{8, 8, 21, 20};
constexpr DialogRect kVersionRect{40, 10, 119, 8};
constexpr DialogRect kNoteRect{40, 25, 119, 8};
constexpr DialogRect kOkRect{178, 7, 50, 14};

// The texts are English in the source; translations (kestal_<locale>.qm) replace them.
QString Tr(const char* text) { return QCoreApplication::translate("AboutDialog", text); }

}  // namespace

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("aboutDialog"));
  setWindowTitle(Tr("About kestal"));
  QFont dialogFont = font();
  dialogFont.setPointSize(9);
  setFont(dialogFont);
  const DialogUnits units(dialogFont);
  setFixedSize(units.ToPixels(kWidthDlu, kHeightDlu));

  auto* icon = new QLabel(this);
  const QRect iconRect = units.ToPixels(kIconRect);
  const int side = std::min(iconRect.width(), iconRect.height());
  icon->setPixmap(MakeAppIcon().pixmap(side, side));
  icon->setGeometry(iconRect);

  auto* version = new QLabel(Tr("kestal version %1").arg(QStringLiteral(KESTAL_VERSION)), this);
  version->setObjectName(QStringLiteral("aboutVersion"));
  version->setGeometry(units.ToPixels(kVersionRect));

  auto* note = new QLabel(QStringLiteral("Serial transfers for the receiver"), this);
  note->setObjectName(QStringLiteral("aboutNote"));
  note->setGeometry(units.ToPixels(kNoteRect));

  auto* ok = new QPushButton(Tr("OK"), this);
  ok->setObjectName(QStringLiteral("ctl1"));
  ok->setDefault(true);
  ok->setGeometry(units.ToPixels(kOkRect));
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

}  // namespace kestal::ui

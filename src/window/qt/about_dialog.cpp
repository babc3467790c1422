#include "window/qt/about_dialog.h"

#include <QCoreApplication>
#include <QLabel>
#include <QPushButton>

#include "window/core/program_info.h"
#include "window/qt/app_icon.h"
#include "window/qt/dialog_units.h"

namespace kestal::window::qt {
namespace {

constexpr int kWidthDlu = 235;
constexpr int kHeightDlu = 55;
constexpr DialogRect kIconRect{8, 8, 21, 20};
constexpr DialogRect kVersionRect{40, 10, 119, 8};
constexpr DialogRect kCopyrightRect{40, 25, 188, 8};
constexpr DialogRect kLicenceRect{40, 36, 188, 8};
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

  auto* version = new QLabel(Tr("kestal version %1").arg(QString::fromLatin1(kVersion)), this);
  version->setObjectName(QStringLiteral("aboutVersion"));
  version->setGeometry(units.ToPixels(kVersionRect));

  // The licence's own words stay English in every language.
  auto* copyright = new QLabel(QString::fromLatin1(kCopyright), this);
  copyright->setObjectName(QStringLiteral("aboutCopyright"));
  copyright->setGeometry(units.ToPixels(kCopyrightRect));
  auto* licence = new QLabel(QString::fromLatin1(kLicence), this);
  licence->setObjectName(QStringLiteral("aboutLicence"));
  licence->setGeometry(units.ToPixels(kLicenceRect));

  auto* ok = new QPushButton(Tr("OK"), this);
  ok->setObjectName(QStringLiteral("ctl1"));
  ok->setDefault(true);
  ok->setGeometry(units.ToPixels(kOkRect));
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

}  // namespace kestal::window::qt

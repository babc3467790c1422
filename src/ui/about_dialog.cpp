#include "ui/about_dialog.h"

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

}  // namespace

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("aboutDialog"));
  setWindowTitle(QString::fromUtf8("kestal 정보"));
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

  auto* version = new QLabel(QString::fromUtf8("kestal 버전 1.0"), this);
  version->setObjectName(QStringLiteral("aboutVersion"));
  version->setGeometry(units.ToPixels(kVersionRect));

  auto* note = new QLabel(QStringLiteral("Serial transfers for the receiver"), this);
  note->setObjectName(QStringLiteral("aboutNote"));
  note->setGeometry(units.ToPixels(kNoteRect));

  auto* ok = new QPushButton(QString::fromUtf8("확인"), this);
  ok->setObjectName(QStringLiteral("ctl1"));
  ok->setDefault(true);
  ok->setGeometry(units.ToPixels(kOkRect));
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

}  // namespace kestal::ui

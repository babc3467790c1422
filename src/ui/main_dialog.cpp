// MainDialog: construction, the controls and their layout, and what the controller pushes.
#include "ui/main_dialog.h"

#include <QApplication>
#include <QButtonGroup>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <cstdio>

#include "ui/about_dialog.h"
#include "ui/dialog_units.h"
#include "ui/port_combo_box.h"
#include "ui/progress_text.h"

namespace kestal::ui {
namespace {

constexpr int kClientWidthDlu = 211;
constexpr int kClientHeightDlu = 177;
constexpr int kTemplatePointSize = 9;

// The window's controls in dialog units, and the frames and labels drawn around them.
constexpr DialogRect kModeFrame{8, 4, 196, 35};
constexpr DialogRect kModeLabel{17, 20, 19, 8};
constexpr DialogRect kModeList{37, 17, 83, 57};
constexpr DialogRect kToReceiver{132, 12, 55, 10};
constexpr DialogRect kToComputer{132, 26, 58, 10};
constexpr DialogRect kFileButton{8, 44, 39, 17};
constexpr DialogRect kPathField{51, 44, 150, 17};
constexpr DialogRect kStartButton{8, 67, 83, 18};
constexpr DialogRect kStopButton{8, 88, 82, 18};
constexpr DialogRect kPortLabel{94, 78, 83, 9};
constexpr DialogRect kPortList{94, 90, 110, 41};
constexpr DialogRect kProgressBar{8, 111, 164, 15};
constexpr DialogRect kPercentLabel{177, 114, 23, 10};
constexpr DialogRect kProgressText{8, 128, 196, 8};
constexpr DialogRect kStatusFrame{8, 138, 196, 34};
constexpr DialogRect kStatusLine{14, 150, 181, 8};
constexpr DialogRect kDetailLine{14, 160, 181, 8};

template <typename Widget>
Widget* Place(Widget* widget, const DialogUnits& units, const DialogRect& rect, const char* name) {
  widget->setObjectName(QString::fromLatin1(name));
  widget->setGeometry(units.ToPixels(rect));
  return widget;
}

// A drop-down list's rectangle includes its open list; the closed box keeps its natural height.
QComboBox* PlaceDropDown(QComboBox* combo, const DialogUnits& units, const DialogRect& rect,
                         const char* name) {
  combo->setObjectName(QString::fromLatin1(name));
  QRect area = units.ToPixels(rect);
  area.setHeight(combo->sizeHint().height());
  combo->setGeometry(area);
  return combo;
}

// The packer's "." per block goes to standard output, the window program's only console output.
void PrintPackTrace(const std::string& text) {
  std::fputs(text.c_str(), stdout);
  std::fflush(stdout);
}

}  // namespace

MainDialog::MainDialog(const std::string& commandLinePath, Discovery discovery, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint),
      commandLinePath_(commandLinePath),
      discovery_(discovery ? std::move(discovery) : Discovery([] { return EnumeratePorts(); })),
      calls_([this] {
        QMetaObject::invokeMethod(
            this, [this] { calls_.RunPending(); }, Qt::QueuedConnection);
      }) {
  setWindowTitle(QStringLiteral("kestal"));
  QFont windowFont = QApplication::font();
  windowFont.setPointSize(kTemplatePointSize);
  setFont(windowFont);
  CreateControls();
  // The controller may show its view at once: the controls come first.
  controller_ = std::make_unique<TransferController>(link_, *this, calls_);
  controller_->SetPackTrace(PrintPackTrace);
  // The reader thread must not block: its notices are shown later, without waiting.
  link_.SetNoticeHandler([this](const std::string& text) {
    calls_.Post([this, text] { ShowNotice(QString::fromStdString(text)); });
  });
  ConnectControls();
}

MainDialog::~MainDialog() {
  // The worker's notifications must return without the window before its thread is joined.
  controller_->OnClose();
  calls_.Abort();
  controller_.reset();
  link_.CloseLink();
}

void MainDialog::CreateControls() {
  const DialogUnits units(font());
  setFixedSize(units.ToPixels(kClientWidthDlu, kClientHeightDlu));

  Place(new QGroupBox(this), units, kModeFrame, "modeGroup");
  Place(new QLabel(QStringLiteral("Mode"), this), units, kModeLabel, "modeLabel");
  modeList_ = PlaceDropDown(new QComboBox(this), units, kModeList, "modeList");
  modeList_->addItems({QStringLiteral("Software"), QStringLiteral("Channels")});
  modeList_->setCurrentIndex(-1);

  toReceiver_ = Place(new QRadioButton(QStringLiteral("To Receiver"), this), units, kToReceiver,
                      "toReceiver");
  toComputer_ = Place(new QRadioButton(QStringLiteral("To Computer"), this), units, kToComputer,
                      "toComputer");
  directionGroup_ = new QButtonGroup(this);
  directionGroup_->addButton(toReceiver_, DIR_TO_RECEIVER);
  directionGroup_->addButton(toComputer_, DIR_TO_COMPUTER);

  fileButton_ =
      Place(new QPushButton(QStringLiteral("File"), this), units, kFileButton, "fileButton");
  pathEdit_ = Place(new QLineEdit(this), units, kPathField, "pathField");
  startButton_ =
      Place(new QPushButton(QStringLiteral("Download"), this), units, kStartButton, "startButton");
  startButton_->setDefault(true);
  stopButton_ =
      Place(new QPushButton(QStringLiteral("Stop"), this), units, kStopButton, "stopButton");
  Place(new QLabel(QStringLiteral("Communication Port :"), this), units, kPortLabel, "portLabel");
  auto* portCombo = new PortComboBox(this);
  portCombo->SetBeforePopup([this] { RefreshPorts(); });
  portList_ = PlaceDropDown(portCombo, units, kPortList, "portList");

  progress_ = Place(new QProgressBar(this), units, kProgressBar, "progressBar");
  progress_->setRange(0, 100);
  progress_->setValue(0);
  progress_->setTextVisible(false);
  percentLabel_ =
      Place(new QLabel(QStringLiteral("Static"), this), units, kPercentLabel, "percentLabel");
  Place(new QGroupBox(QStringLiteral("Status"), this), units, kStatusFrame, "statusGroup")->lower();
  progressText_ = Place(new QLabel(this), units, kProgressText, "progressText");
  statusLine_ = Place(new QLabel(QStringLiteral("Static"), this), units, kStatusLine, "statusLine");
  detailLine_ = Place(new QLabel(this), units, kDetailLine, "detailLine");

  watchdogTimer_ = new QTimer(this);
  statusTimer_ = new QTimer(this);
  portTimer_ = new QTimer(this);
}

void MainDialog::ConnectControls() {
  // `activated` comes from the user only; selections the program makes run no handler.
  connect(portList_, &QComboBox::activated, this, [this](int index) { OnPortChanged(index); });
  connect(modeList_, &QComboBox::activated, this, [this](int) { OnModeChanged(); });
  connect(toReceiver_, &QRadioButton::clicked, this, [this] { OnDirection(); });
  connect(toComputer_, &QRadioButton::clicked, this, [this] { OnDirection(); });
  connect(fileButton_, &QPushButton::clicked, this, [this] { OnFileButton(); });
  connect(startButton_, &QPushButton::clicked, this, [this] { OnStart(); });
  connect(stopButton_, &QPushButton::clicked, this, [this] { controller_->OnStop(); });
  connect(watchdogTimer_, &QTimer::timeout, this,
          [this] { controller_->OnTimer(TransferTimer::Watchdog); });
  connect(statusTimer_, &QTimer::timeout, this,
          [this] { controller_->OnTimer(TransferTimer::Status); });
  connect(portTimer_, &QTimer::timeout, this, [this] { RefreshPorts(); });
}

void MainDialog::Show(const TransferView& view) {
  statusLine_->setText(QString::fromStdString(view.status));
  detailLine_->setText(QString::fromStdString(view.detail));
  percentLabel_->setText(QString::fromStdString(view.percentText));
  progress_->setValue(view.percent);
  ShowProgressText(view);
  ShowFilePath();
  EnableInputs(view.inputsEnabled);
  if (CommandLineMode()) PrintStatus(view);
}

// The rate is measured from the moment the transfer started running.
void MainDialog::ShowProgressText(const TransferView& view) {
  if (!view.running) {
    transferClock_.invalidate();
  } else if (!transferClock_.isValid()) {
    transferClock_.start();
    progressText_->clear();
  }
  if (view.bytesTotal == 0) return;
  const double seconds =
      transferClock_.isValid() ? static_cast<double>(transferClock_.elapsed()) / 1000.0 : 0.0;
  progressText_->setText(ProgressText(view.bytesDone, view.bytesTotal, seconds));
}

// Run from a terminal or a script, the status lines are the only thing anyone sees.
void MainDialog::PrintStatus(const TransferView& view) {
  const std::string text = view.detail.empty() ? view.status : view.status + "\n" + view.detail;
  if (view.status.empty() || text == printedStatus_) return;
  printedStatus_ = text;
  PrintLine(QString::fromStdString(text));
}

void MainDialog::Tell(const QString& text, const QString& caption) {
  if (CommandLineMode())
    PrintLine(text);
  else
    ShowMessage(text, caption);
}

// The window closes after the handler that decided it has returned.
void MainDialog::EndCommandLine(int exitStatus) {
  exitStatus_ = exitStatus;
  exitStatusSet_ = true;
  QMetaObject::invokeMethod(
      this, [this] { close(); }, Qt::QueuedConnection);
}

// Software is only ever sent: "To Computer" stays off in that mode.
void MainDialog::EnableInputs(bool enable) {
  for (QWidget* input :
       std::initializer_list<QWidget*>{fileButton_, pathEdit_, portList_, modeList_, toReceiver_})
    input->setEnabled(enable);
  toComputer_->setEnabled(enable && SelectedMode() != MODE_SOFTWARE);
}

QTimer* MainDialog::TimerFor(TransferTimer timer) const {
  return timer == TransferTimer::Watchdog ? watchdogTimer_ : statusTimer_;
}

void MainDialog::StartTimer(TransferTimer timer, std::chrono::milliseconds period) {
  TimerFor(timer)->start(period);
}

void MainDialog::StopTimer(TransferTimer timer) { TimerFor(timer)->stop(); }

// In command-line mode the program ends once the file has been sent: status 0 when the
// transfer completed, 1 after every other end. The window closes after the controller's
// handler has returned.
void MainDialog::TransferEnded(WorkerOutcome outcome) {
  if (!CommandLineMode() || startedDirection_ != DIR_TO_RECEIVER) return;
  EndCommandLine(outcome == WorkerOutcome::Completed ? 0 : 1);
}

void MainDialog::ShowMessage(const QString& text, const QString& caption) {
  QMessageBox box(QMessageBox::NoIcon,
                  caption.isEmpty() ? QApplication::applicationDisplayName() : caption, text,
                  QMessageBox::Ok, this);
  box.exec();
}

void MainDialog::PrintLine(const QString& text) {
  std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
  std::fflush(stderr);
}

// A reader that keeps overflowing repeats its notice: one box on screen is enough.
void MainDialog::ShowNotice(const QString& text) {
  if (CommandLineMode()) {
    PrintLine(text);
    return;
  }
  if (noticeBox_ && noticeBox_->isVisible() && noticeBox_->text() == text) return;
  auto* box = new QMessageBox(QMessageBox::NoIcon, QApplication::applicationDisplayName(), text,
                              QMessageBox::Ok, this);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setModal(false);
  box->show();
  noticeBox_ = box;
}

std::optional<QString> MainDialog::AskFileName(const FileDialogRequest& request) {
  QFileDialog dialog(this, QString(), request.initialPath, request.filter);
  dialog.setAcceptMode(request.saveAs ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode(request.saveAs ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  dialog.setDefaultSuffix(request.defaultSuffix);
  dialog.setOptions(request.options);
  if (!request.initialPath.isEmpty()) dialog.selectFile(request.initialPath);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return dialog.selectedFiles().constFirst();
}

void MainDialog::RunAboutBox() {
  AboutDialog about(this);
  about.exec();
}

}  // namespace kestal::ui

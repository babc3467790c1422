// MainDialog: construction, the controls and their layout, and the controller's view.
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

#include "ports/port_discovery.h"
#include "transfer/control_ids.h"
#include "ui/about_dialog.h"
#include "ui/dialog_units.h"

namespace kestal {
namespace {

constexpr int kClientWidthDlu = 211;
constexpr int kClientHeightDlu = 165;
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
constexpr DialogRect kStatusFrame{8, 130, 196, 28};
constexpr DialogRect kStatusLine{14, 142, 181, 8};

QString ControlName(int id) { return QStringLiteral("ctl%1").arg(id); }

template <typename Widget>
Widget* Place(Widget* widget, const DialogUnits& units, const DialogRect& rect, const QString& name) {
  widget->setObjectName(name);
  widget->setGeometry(units.ToPixels(rect));
  return widget;
}

// A drop-down list's rectangle includes its open list; the closed box keeps its natural height.
void PlaceDropDown(QComboBox* combo, const DialogUnits& units, const DialogRect& rect) {
  QRect area = units.ToPixels(rect);
  area.setHeight(combo->sizeHint().height());
  combo->setGeometry(area);
}

}  // namespace

MainDialog::MainDialog(const std::string& commandLinePath, Discovery discovery, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint),
      m_bridge(NotifyBridge::Handlers{
          [this](std::unique_ptr<StatusNote> note) { m_controller->OnTransferStatus(std::move(note)); },
          [this](int percent) { m_controller->OnTransferProgress(percent); },
          [this](int completed) { m_controller->OnTransferDone(completed); },
          [this](bool completed) { OnWorkerExit(completed); }}),
      m_discovery(discovery ? std::move(discovery)
                            : Discovery([](PortList& list) { EnumeratePorts(list); })) {
  m_job.m_hNotifyWnd = &m_notify;
  m_job.m_strFilePath = commandLinePath;
  m_job.m_bCommandLine = commandLinePath.empty() ? 0 : 1;
  // The packer's "." per block goes to standard output, the window program's only console output.
  m_job.m_packTrace = [](const std::string& text) {
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
  };
  m_controller = std::make_unique<TransferController>(m_job, m_link, *this);
  // The reader thread must not block: its notices are shown later, without waiting.
  m_link.SetNoticeHandler([this](const std::string& text) {
    m_bridge.Post([this, text] { ShowNotice(QString::fromStdString(text)); });
  });

  setWindowTitle(QStringLiteral("kestal"));
  QFont windowFont = QApplication::font();
  windowFont.setPointSize(kTemplatePointSize);
  setFont(windowFont);
  CreateControls();
}

MainDialog::~MainDialog() {
  // The worker's notifications must return without the window before its thread is joined.
  m_job.m_bClosing = 1;
  m_bridge.Abort();
  m_controller.reset();
  m_link.CloseLink();
}

void MainDialog::CreateControls() {
  const DialogUnits units(font());
  setFixedSize(units.ToPixels(kClientWidthDlu, kClientHeightDlu));

  Place(new QGroupBox(this), units, kModeFrame, QStringLiteral("modeGroup"));
  Place(new QLabel(QStringLiteral("Mode"), this), units, kModeLabel, QStringLiteral("modeLabel"));
  m_cbMode = new QComboBox(this);
  m_cbMode->setObjectName(ControlName(IDC_MODE));
  m_cbMode->addItems({QStringLiteral("Software"), QStringLiteral("Channels")});
  m_cbMode->setCurrentIndex(-1);
  PlaceDropDown(m_cbMode, units, kModeList);

  m_toReceiver = Place(new QRadioButton(QStringLiteral("To Reciever"), this), units, kToReceiver,
                       ControlName(IDC_TO_RECEIVER));
  m_toComputer = Place(new QRadioButton(QStringLiteral("To Computer"), this), units, kToComputer,
                       ControlName(IDC_TO_COMPUTER));
  m_directionGroup = new QButtonGroup(this);
  m_directionGroup->addButton(m_toReceiver, DIR_TO_RECEIVER);
  m_directionGroup->addButton(m_toComputer, DIR_TO_COMPUTER);

  m_fileButton = Place(new QPushButton(QStringLiteral("File"), this), units, kFileButton,
                       ControlName(IDC_FILE));
  m_pathEdit = Place(new QLineEdit(this), units, kPathField, ControlName(IDC_PATH));
  m_startButton = Place(new QPushButton(QStringLiteral("Download"), this), units, kStartButton,
                        ControlName(IDC_START));
  m_startButton->setDefault(true);
  m_stopButton = Place(new QPushButton(QStringLiteral("Stop"), this), units, kStopButton,
                       ControlName(IDC_STOP));
  auto* portLabel = Place(new QLabel(QStringLiteral("Communication Port :"), this), units,
                          kPortLabel, ControlName(IDC_PORT_LABEL));
  m_cbPort = new QComboBox(this);
  m_cbPort->setObjectName(ControlName(IDC_PORT));
  PlaceDropDown(m_cbPort, units, kPortList);

  m_progress = Place(new QProgressBar(this), units, kProgressBar, ControlName(IDC_PROGRESS));
  m_progress->setRange(0, 100);
  m_progress->setValue(0);
  m_progress->setTextVisible(false);
  m_percentLabel = Place(new QLabel(QStringLiteral("Static"), this), units, kPercentLabel,
                         ControlName(IDC_PERCENT));
  Place(new QGroupBox(QStringLiteral("Status"), this), units, kStatusFrame,
        QStringLiteral("statusGroup"))
      ->lower();
  m_statusLine = Place(new QLabel(QStringLiteral("Static"), this), units, kStatusLine,
                       ControlName(IDC_STATUS));

  m_controls = {{IDC_START, m_startButton},    {IDC_STATUS, m_statusLine},
                {IDC_PERCENT, m_percentLabel}, {IDC_FILE, m_fileButton},
                {IDC_PROGRESS, m_progress},    {IDC_PATH, m_pathEdit},
                {IDC_PORT_LABEL, portLabel},   {IDC_TO_RECEIVER, m_toReceiver},
                {IDC_PORT, m_cbPort},          {IDC_STOP, m_stopButton},
                {IDC_MODE, m_cbMode},          {IDC_TO_COMPUTER, m_toComputer}};

  // `activated` comes from the user only; selections the program makes run no handler.
  connect(m_cbPort, &QComboBox::activated, this, [this](int index) { OnPortChanged(index); });
  connect(m_cbMode, &QComboBox::activated, this, [this](int) { OnModeChanged(); });
  connect(m_toReceiver, &QRadioButton::clicked, this, [this] { OnDirection(); });
  connect(m_toComputer, &QRadioButton::clicked, this, [this] { OnDirection(); });
  connect(m_fileButton, &QPushButton::clicked, this, [this] { OnFileButton(); });
  connect(m_startButton, &QPushButton::clicked, this, [this] { m_controller->StartTransfer(); });
  connect(m_stopButton, &QPushButton::clicked, this, [this] { m_controller->OnStop(); });
}

QWidget* MainDialog::Control(int id) const {
  const auto found = m_controls.find(id);
  return found == m_controls.end() ? nullptr : found->second;
}

int MainDialog::SelectedDirection() const {
  if (m_toReceiver->isChecked()) return DIR_TO_RECEIVER;
  if (m_toComputer->isChecked()) return DIR_TO_COMPUTER;
  return -1;
}

bool MainDialog::TransferBusy() const {
  return m_job.m_bRunning.load() != 0 || m_job.m_bTransferActive.load() != 0 ||
         m_controller->WorkerAlive();
}

void MainDialog::SetFilePath(const std::string& path) {
  if (path == m_job.m_strFilePath) return;
  m_job.m_strFilePath = path;
  m_job.m_nFileSize = 0;
}

void MainDialog::RefreshControls() {
  m_statusLine->setText(QString::fromStdString(m_controller->m_strStatus));
  m_percentLabel->setText(QString::fromStdString(m_controller->m_strPercent));
  const QString path = QString::fromStdString(m_job.m_strFilePath);
  if (m_pathEdit->text() != path) m_pathEdit->setText(path);
  const int mode = m_job.m_nMode.load();
  m_cbMode->setCurrentIndex(mode >= 0 && mode < m_cbMode->count() ? mode : -1);
  QAbstractButton* direction = m_directionGroup->button(m_job.m_nDirection.load());
  if (direction) {
    direction->setChecked(true);
  } else if (QAbstractButton* checked = m_directionGroup->checkedButton()) {
    m_directionGroup->setExclusive(false);  // an exclusive group cannot be left empty
    checked->setChecked(false);
    m_directionGroup->setExclusive(true);
  }
}

void MainDialog::ReadControls() {
  // The worker reads the path while it runs; it is not replaced under it.
  if (!TransferBusy()) SetFilePath(m_pathEdit->text().toStdString());
  m_job.m_nMode = m_cbMode->currentIndex();
  m_job.m_nDirection = SelectedDirection();
}

void MainDialog::EnableControl(int id, bool enable) {
  if (QWidget* control = Control(id)) control->setEnabled(enable);
}

void MainDialog::SetProgressPos(int percent) { m_progress->setValue(percent); }

void MainDialog::StartTimer(int id, int periodMs) {
  QTimer*& timer = m_timers[id];
  if (!timer) {
    timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, [this, id] { m_controller->OnTimer(id); });
  }
  timer->start(periodMs);
}

void MainDialog::StopTimer(int id) {
  const auto found = m_timers.find(id);
  if (found != m_timers.end() && found->second) found->second->stop();
}

const PortInfo* MainDialog::SelectedPort() {
  const int entry = m_cbPort->currentIndex();
  if (entry < 0) return nullptr;
  bool ok = false;
  const int record = m_cbPort->itemData(entry).toInt(&ok);
  if (!ok || record < 0 || record >= static_cast<int>(m_portList.size())) return nullptr;
  return &m_portList[static_cast<size_t>(record)];
}

void MainDialog::ShowMessage(const QString& text, const QString& caption) {
  QMessageBox box(QMessageBox::NoIcon,
                  caption.isEmpty() ? QApplication::applicationDisplayName() : caption, text,
                  QMessageBox::Ok, this);
  box.exec();
}

// A reader that keeps overflowing repeats its notice: one box on screen is enough.
void MainDialog::ShowNotice(const QString& text) {
  if (m_noticeBox && m_noticeBox->isVisible() && m_noticeBox->text() == text) return;
  auto* box = new QMessageBox(QMessageBox::NoIcon, QApplication::applicationDisplayName(), text,
                              QMessageBox::Ok, this);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setModal(false);
  box->show();
  m_noticeBox = box;
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

}  // namespace kestal

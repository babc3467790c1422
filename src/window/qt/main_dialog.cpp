// MainDialog: the controls and their layout, what the logic tells them, and the events they
// forward.
#include "window/qt/main_dialog.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QComboBox>
#include <QDropEvent>
#include <QFileDialog>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTimer>
#include <QUrl>
#include <cstdio>

#include "window/qt/about_dialog.h"
#include "window/qt/app_icon.h"
#include "window/qt/dialog_units.h"
#include "window/qt/port_combo_box.h"

namespace kestal::window::qt {
namespace {

constexpr int kClientWidthDlu = 211;
constexpr int kClientHeightDlu = 177;
constexpr int kTemplatePointSize = 9;
// Adapters come and go while the window is open; a sysfs scan this often costs next to nothing.
constexpr std::chrono::milliseconds kPortScanPeriod{1500};

// The window's controls in dialog units, and the frames and labels drawn around them.
constexpr DialogRect kModeFrame{8, 4, 196, 35};
constexpr DialogRect kModeLabel{17, 20, 19, 8};
constexpr DialogRect kModeList{37, 17, 83, 57};
constexpr DialogRect kToReceiver{132, 12, 55, 10};
constexpr DialogRect kToComputer{132, 26, 58, 10};
constexpr DialogRect kFileButton{8, 44, 39, 17};
constexpr DialogRect kPathField{51, 44, 150, 17};
constexpr DialogRect kStartButton{8, 67, 83, 18};
constexpr DialogRect kAboutButton{160, 64, 44, 12};
constexpr DialogRect kStopButton{8, 88, 82, 18};
constexpr DialogRect kPortLabel{94, 78, 83, 9};
constexpr DialogRect kPortList{94, 90, 110, 41};
constexpr DialogRect kProgressBar{8, 111, 164, 15};
constexpr DialogRect kPercentLabel{177, 114, 23, 10};
constexpr DialogRect kProgressText{8, 128, 196, 8};
constexpr DialogRect kStatusFrame{8, 138, 196, 34};
constexpr DialogRect kStatusLine{14, 150, 181, 8};
constexpr DialogRect kDetailLine{14, 160, 181, 8};

QString FromUtf8(const std::string& text) { return QString::fromStdString(text); }

// A drop-down list's rectangle includes its open list; the closed box keeps its natural height.
QRect DropDownArea(QComboBox* combo, const DialogUnits& units, const DialogRect& rect) {
  QRect area = units.ToPixels(rect);
  area.setHeight(combo->sizeHint().height());
  return area;
}

// The local files of a drop, in order.
std::vector<std::string> DroppedFiles(const QMimeData* data) {
  std::vector<std::string> files;
  if (!data || !data->hasUrls()) return files;
  for (const QUrl& url : data->urls()) {
    if (url.isLocalFile()) files.push_back(url.toLocalFile().toStdString());
  }
  return files;
}

}  // namespace

MainDialog::MainDialog(const std::string& commandLinePath, MainWindow::Discovery discovery,
                       QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint),
      settings_(OpenUserSettings()) {
  setWindowTitle(QStringLiteral("kestal"));
  QFont windowFont = QApplication::font();
  windowFont.setPointSize(kTemplatePointSize);
  setFont(windowFont);
  CreateControls();
  SetTabOrder();
  // The logic may show its view at once: the controls come first.
  logic_ =
      std::make_unique<MainWindow>(*this, link_, *settings_, std::move(discovery), commandLinePath);
  logic_->WireSerialLink(link_);
  ConnectControls();
}

// The logic ends the transfer and joins its worker while the controls still exist.
MainDialog::~MainDialog() { logic_.reset(); }

template <typename Widget>
Widget* MainDialog::Place(Widget* widget, const QRect& area, const char* name, Stretch stretch) {
  widget->setObjectName(QString::fromLatin1(name));
  widget->setGeometry(area);
  layout_.push_back({widget, {area, stretch}});
  return widget;
}

void MainDialog::CreateControls() {
  const DialogUnits units(font());
  const QSize size = units.ToPixels(kClientWidthDlu, kClientHeightDlu);
  templateWidth_ = size.width();
  // Wider, so that long port names fit; never narrower or taller than laid out.
  resize(size);
  setMinimumSize(size);
  setMaximumHeight(size.height());
  const auto at = [&units](const DialogRect& rect) { return units.ToPixels(rect); };

  Place(new QGroupBox(this), at(kModeFrame), "modeGroup", Stretch::Widen);
  Place(new QLabel(QStringLiteral("Mode"), this), at(kModeLabel), "modeLabel", Stretch::None);
  modeList_ = new QComboBox(this);
  Place(modeList_, DropDownArea(modeList_, units, kModeList), "modeList", Stretch::None);
  toReceiver_ = Place(new QRadioButton(QStringLiteral("To Receiver"), this), at(kToReceiver),
                      "toReceiver", Stretch::None);
  toComputer_ = Place(new QRadioButton(QStringLiteral("To Computer"), this), at(kToComputer),
                      "toComputer", Stretch::None);
  directionGroup_ = new QButtonGroup(this);
  directionGroup_->addButton(toReceiver_, DIR_TO_RECEIVER);
  directionGroup_->addButton(toComputer_, DIR_TO_COMPUTER);

  fileButton_ = Place(new QPushButton(QStringLiteral("File"), this), at(kFileButton), "fileButton",
                      Stretch::None);
  pathEdit_ = Place(new QLineEdit(this), at(kPathField), "pathField", Stretch::Widen);
  pathEdit_->installEventFilter(this);
  startButton_ = Place(new QPushButton(QStringLiteral("Download"), this), at(kStartButton),
                       "startButton", Stretch::None);
  startButton_->setDefault(true);
  aboutButton_ = Place(new QPushButton(QStringLiteral("About"), this), at(kAboutButton),
                       "aboutButton", Stretch::Move);
  aboutButton_->setAutoDefault(false);
  stopButton_ = Place(new QPushButton(QStringLiteral("Stop"), this), at(kStopButton), "stopButton",
                      Stretch::None);
  Place(new QLabel(QStringLiteral("Communication Port :"), this), at(kPortLabel), "portLabel",
        Stretch::None);
  auto* portCombo = new PortComboBox(this);
  portCombo->SetBeforePopup([this] { logic_->OnPortsChanged(); });
  portList_ =
      Place(portCombo, DropDownArea(portCombo, units, kPortList), "portList", Stretch::Widen);
  portList_->view()->setTextElideMode(Qt::ElideNone);
  portList_->setSizeAdjustPolicy(QComboBox::AdjustToContents);  // its size hint fits every name

  progress_ = Place(new QProgressBar(this), at(kProgressBar), "progressBar", Stretch::Widen);
  progress_->setRange(0, 100);
  progress_->setValue(0);
  progress_->setTextVisible(false);
  percentLabel_ = Place(new QLabel(QStringLiteral("Static"), this), at(kPercentLabel),
                        "percentLabel", Stretch::Move);
  Place(new QGroupBox(QStringLiteral("Status"), this), at(kStatusFrame), "statusGroup",
        Stretch::Widen)
      ->lower();
  progressText_ = Place(new QLabel(this), at(kProgressText), "progressText", Stretch::Widen);
  statusLine_ = Place(new QLabel(QStringLiteral("Static"), this), at(kStatusLine), "statusLine",
                      Stretch::Widen);
  detailLine_ = Place(new QLabel(this), at(kDetailLine), "detailLine", Stretch::Widen);

  watchdogTimer_ = new QTimer(this);
  statusTimer_ = new QTimer(this);
  portTimer_ = new QTimer(this);
}

// Tab follows the layout: mode, direction, file, path, port, start, stop, then About.
void MainDialog::SetTabOrder() {
  QWidget* const order[] = {modeList_, toReceiver_,  toComputer_, fileButton_, pathEdit_,
                            portList_, startButton_, stopButton_, aboutButton_};
  for (size_t i = 1; i < std::size(order); ++i) setTabOrder(order[i - 1], order[i]);
}

void MainDialog::ConnectControls() {
  // `activated`, `clicked` and `textEdited` come from the user only: what the logic sets
  // itself runs no handler.
  connect(portList_, &QComboBox::activated, this,
          [this](int entry) { logic_->OnPortChosen(entry); });
  connect(modeList_, &QComboBox::activated, this, [this](int mode) { logic_->OnModeChosen(mode); });
  connect(toReceiver_, &QRadioButton::clicked, this,
          [this] { logic_->OnDirectionChosen(DIR_TO_RECEIVER); });
  connect(toComputer_, &QRadioButton::clicked, this,
          [this] { logic_->OnDirectionChosen(DIR_TO_COMPUTER); });
  connect(fileButton_, &QPushButton::clicked, this, [this] { logic_->OnFileButton(); });
  connect(pathEdit_, &QLineEdit::textEdited, this,
          [this](const QString& text) { logic_->OnPathEdited(text.toStdString()); });
  connect(startButton_, &QPushButton::clicked, this, [this] { logic_->OnStart(); });
  connect(stopButton_, &QPushButton::clicked, this, [this] { logic_->OnStop(); });
  connect(aboutButton_, &QPushButton::clicked, this, [this] { logic_->OnAbout(); });
  connect(watchdogTimer_, &QTimer::timeout, this,
          [this] { logic_->OnTimer(WindowTimer::Watchdog); });
  connect(statusTimer_, &QTimer::timeout, this, [this] { logic_->OnTimer(WindowTimer::Status); });
  connect(portTimer_, &QTimer::timeout, this, [this] { logic_->OnPortsChanged(); });
}

void MainDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  InitDialog();
}

void MainDialog::InitDialog() {
  if (initialised_) return;
  initialised_ = true;
  setWindowIcon(MakeAppIcon());
  setAcceptDrops(true);
  portTimer_->start(kPortScanPeriod);
  logic_->OnInit();
}

// The controls keep their place; those along the right edge grow or move with the window.
void MainDialog::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  const int extra = std::max(0, width() - templateWidth_);
  for (const auto& [widget, placement] : layout_) {
    const auto& [area, stretch] = placement;
    if (stretch == Stretch::Widen) widget->setGeometry(area.adjusted(0, 0, extra, 0));
    if (stretch == Stretch::Move) widget->setGeometry(area.translated(extra, 0));
  }
}

// The window grows (within the screen) until the longest port name fits in the closed list;
// the open list is as wide as its longest entry.
void MainDialog::FitPortList() {
  portList_->view()->setMinimumWidth(portList_->view()->sizeHintForColumn(0));
  const int lacking = portList_->sizeHint().width() - portList_->width();
  if (lacking <= 0) return;
  int wider = width() + lacking;
  if (const QScreen* screen = this->screen())
    wider = std::min(wider, screen->availableGeometry().width());
  if (wider > width()) resize(wider, height());
}

QWidget* MainDialog::WidgetOf(Control control) const {
  switch (control) {
    case Control::ModeList:
      return modeList_;
    case Control::ToReceiver:
      return toReceiver_;
    case Control::ToComputer:
      return toComputer_;
    case Control::FileButton:
      return fileButton_;
    case Control::PathField:
      return pathEdit_;
    case Control::PortList:
      return portList_;
    case Control::StartButton:
      return startButton_;
    case Control::StopButton:
      return stopButton_;
    case Control::StatusLine:
      return statusLine_;
    case Control::DetailLine:
      return detailLine_;
    case Control::PercentLabel:
      return percentLabel_;
    case Control::ProgressText:
      return progressText_;
    case Control::Caption:
      break;
  }
  return const_cast<MainDialog*>(this);
}

void MainDialog::SetEntries(Control list, const std::vector<std::string>& entries) {
  auto* combo = static_cast<QComboBox*>(WidgetOf(list));
  const QSignalBlocker blocker(combo);
  combo->clear();
  for (const std::string& entry : entries) combo->addItem(FromUtf8(entry));
  combo->setCurrentIndex(-1);
  if (combo == portList_) FitPortList();
}

void MainDialog::SelectEntry(Control list, int entry) {
  static_cast<QComboBox*>(WidgetOf(list))->setCurrentIndex(entry);
}

void MainDialog::Check(Control radio) {
  static_cast<QRadioButton*>(WidgetOf(radio))->setChecked(true);
}

void MainDialog::Enable(Control control, bool enabled) { WidgetOf(control)->setEnabled(enabled); }

void MainDialog::SetText(Control control, const std::string& text) {
  QWidget* widget = WidgetOf(control);
  if (widget == this) {
    setWindowTitle(FromUtf8(text));
  } else if (auto* label = qobject_cast<QLabel*>(widget)) {
    label->setText(FromUtf8(text));
  } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
    button->setText(FromUtf8(text));
  } else if (auto* field = qobject_cast<QLineEdit*>(widget)) {
    field->setText(FromUtf8(text));
  }
}

void MainDialog::SetProgress(int percent) { progress_->setValue(percent); }

void MainDialog::ShowBox(const std::string& text, const std::string& caption) {
  QMessageBox box(QMessageBox::NoIcon,
                  caption.empty() ? QApplication::applicationDisplayName() : FromUtf8(caption),
                  FromUtf8(text), QMessageBox::Ok, this);
  box.exec();
}

// A reader that keeps overflowing repeats its notice: one box on screen is enough.
void MainDialog::ShowNotice(const std::string& text) {
  const QString shown = FromUtf8(text);
  if (noticeBox_ && noticeBox_->isVisible() && noticeBox_->text() == shown) return;
  auto* box = new QMessageBox(QMessageBox::NoIcon, QApplication::applicationDisplayName(), shown,
                              QMessageBox::Ok, this);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setModal(false);
  box->show();
  noticeBox_ = box;
}

bool MainDialog::AskYesNo(const std::string& question, const std::string& caption) {
  const QString title =
      caption.empty() ? QApplication::applicationDisplayName() : FromUtf8(caption);
  return QMessageBox::question(this, title, FromUtf8(question), QMessageBox::Yes | QMessageBox::No,
                               QMessageBox::Yes) == QMessageBox::Yes;
}

std::optional<std::string> MainDialog::AskFileName(const FileRequest& request) {
  QStringList filters;
  for (const FileFilter& filter : request.filters) filters << FromUtf8(filter.name);
  const QString initial = FromUtf8(request.initialPath);
  QFileDialog dialog(this, QString(), initial, filters.join(QStringLiteral(";;")));
  dialog.setAcceptMode(request.saveAs ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode(request.saveAs ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  dialog.setDefaultSuffix(FromUtf8(request.defaultExtension));
  if (request.saveAs) dialog.setOption(QFileDialog::DontConfirmOverwrite);
  if (!initial.isEmpty()) dialog.selectFile(initial);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return dialog.selectedFiles().constFirst().toStdString();
}

void MainDialog::ShowAbout() {
  AboutDialog about(this);
  about.exec();
}

QTimer* MainDialog::TimerFor(WindowTimer timer) const {
  return timer == WindowTimer::Watchdog ? watchdogTimer_ : statusTimer_;
}

void MainDialog::StartTimer(WindowTimer timer, std::chrono::milliseconds period) {
  TimerFor(timer)->start(period);
}

void MainDialog::StopTimer(WindowTimer timer) { TimerFor(timer)->stop(); }

// A queued call on this window: Qt drops it with the window.
void MainDialog::Post(std::function<void()> call) {
  QMetaObject::invokeMethod(this, std::move(call), Qt::QueuedConnection);
}

void MainDialog::Close(int exitStatus) {
  exitStatus_ = exitStatus;
  close();
}

void MainDialog::PrintLine(const std::string& text) {
  std::fprintf(stderr, "%s\n", text.c_str());
  std::fflush(stderr);
}

void MainDialog::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {  // the window ends only through its close request
    event->accept();
    return;
  }
  if (event->key() == Qt::Key_F1) {
    event->accept();
    logic_->OnAbout();
    return;
  }
  QDialog::keyPressEvent(event);
}

void MainDialog::closeEvent(QCloseEvent* event) {
  exitStatus_ = logic_->OnClose();
  QDialog::closeEvent(event);
}

// The worker reads the file while it runs: drops are refused during a transfer.
void MainDialog::AnswerDrag(QDropEvent* event) {
  if (logic_->AcceptsDrops() && !DroppedFiles(event->mimeData()).empty())
    event->acceptProposedAction();
  else
    event->ignore();
}

void MainDialog::dragEnterEvent(QDragEnterEvent* event) { AnswerDrag(event); }

void MainDialog::dragMoveEvent(QDragMoveEvent* event) { AnswerDrag(event); }

void MainDialog::dropEvent(QDropEvent* event) {
  AnswerDrag(event);
  if (event->isAccepted()) logic_->OnDrop(DroppedFiles(event->mimeData()));
}

// The field would insert a dropped file's URL at the cursor; a file goes to the window instead.
// Dragged text is still the field's own.
bool MainDialog::eventFilter(QObject* watched, QEvent* event) {
  if (watched != pathEdit_) return QDialog::eventFilter(watched, event);
  switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop: {
      auto* drop = static_cast<QDropEvent*>(event);
      if (DroppedFiles(drop->mimeData()).empty()) return false;
      if (event->type() == QEvent::Drop)
        dropEvent(drop);
      else
        AnswerDrag(drop);
      return true;
    }
    default:
      return false;
  }
}

}  // namespace kestal::window::qt

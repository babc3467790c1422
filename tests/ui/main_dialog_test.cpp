// The window's own state rules, which the end-to-end table cannot see: which inputs are
// enabled, what the settings file holds, what a command-line run exits with. Transfers run a
// stub worker over a pseudo-terminal, so no receiver is needed.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <QDropEvent>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <atomic>

#include "ports/virtual_ports.h"
#include "support/child_process.h"
#include "ui/about_dialog.h"
#include "ui/main_dialog.h"
#include "ui/progress_text.h"
#include "ui/translation.h"

namespace kestal::ui {
namespace {

using namespace std::chrono_literals;

void StartApplication() {
  static int argc = 1;
  static char name[] = "kestal_ui_test";
  static char* argv[] = {name, nullptr};
  qputenv("QT_QPA_PLATFORM", "offscreen");
  static QApplication* application = new QApplication(argc, argv);
  (void)application;
}

// Runs the window's events until `done`; the limit only keeps a hang from blocking the run.
bool WaitUntil(const std::function<bool()>& done) {
  for (int round = 0; round < 3000 && !done(); ++round) QTest::qWait(10);
  return done();
}

// The receiver's port: the link opens the far end of a pseudo-terminal.
class Pty {
 public:
  Pty() : master_(posix_openpt(O_RDWR | O_NOCTTY)) {
    if (master_ >= 0 && grantpt(master_) == 0 && unlockpt(master_) == 0) path_ = ptsname(master_);
  }
  ~Pty() { close(master_); }
  const std::string& Path() const { return path_; }

 private:
  int master_;
  std::string path_;
};

// Holds the transfer open until released or stopped, then ends it with `outcome`.
struct StubWorker {
  std::atomic<bool> released{false};
  WorkerOutcome outcome = WorkerOutcome::Completed;

  TransferController::WorkerProc Proc() {
    return [this](WorkerContext& context) {
      while (!released && context.state.running) std::this_thread::sleep_for(5ms);
      context.notify.NotifyDone(outcome == WorkerOutcome::Completed);
      return outcome;
    };
  }
};

// Records its boxes and stderr lines; the file dialog answers `fileAnswer`.
class TestDialog : public MainDialog {
 public:
  TestDialog(const PortList& ports, const std::string& commandLine = {})
      : MainDialog(commandLine, [ports] {
          return DiscoveryResult{ports, {}};
        }) {}
  TestDialog(Discovery discovery) : MainDialog({}, std::move(discovery)) {}

  template <typename Widget>
  Widget* Get(const char* name) {
    return findChild<Widget*>(QString::fromLatin1(name));
  }
  void Choose(const char* list, int entry) {
    Get<QComboBox>(list)->setCurrentIndex(entry);
    emit Get<QComboBox>(list)->activated(entry);
  }
  // Drops `path` as a file manager does; true when the window took it.
  bool Drop(const QString& path) {
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(path)});
    QDragEnterEvent enter({1, 1}, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(this, &enter);
    QDropEvent drop(QPointF(1, 1), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(this, &drop);
    return enter.isAccepted() && drop.isAccepted();
  }
  bool InputsEnabled() {
    for (const char* name : {"fileButton", "pathField", "portList", "modeList", "toReceiver"})
      if (!Get<QWidget>(name)->isEnabled()) return false;
    return true;
  }

  QStringList messages;
  QStringList printed;
  std::optional<QString> fileAnswer;

 protected:
  void ShowMessage(const QString& text, const QString&) override { messages << text; }
  void PrintLine(const QString& text) override { printed << text; }
  std::optional<QString> AskFileName(const FileDialogRequest&) override { return fileAnswer; }
};

PortInfo Port(const std::string& name, const std::string& path) {
  PortInfo port;
  port.friendlyName = name;
  port.devicePath = path;
  return port;
}

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    StartApplication();
    ASSERT_TRUE(home_.isValid());
    qputenv("XDG_CONFIG_HOME", home_.path().toUtf8());
  }
  QString SettingsFile() const { return home_.filePath(QStringLiteral("ostrel/pelmar.conf")); }
  QString MakeFile(const char* name) const {
    const QString path = home_.filePath(QString::fromLatin1(name));
    QFile(path).open(QIODevice::WriteOnly);
    return path;
  }
  QByteArray Settings() const {
    QFile file(SettingsFile());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<none>");
  }
  void WriteSettings(const QByteArray& content) const {
    QDir().mkpath(QFileInfo(SettingsFile()).absolutePath());
    QFile file(SettingsFile());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(content);
  }

  QTemporaryDir home_;
  PortList fakePorts_ = {Port("USB A", "/nonexistent/a"), Port("USB B", "/nonexistent/b")};
};

TEST_F(WindowTest, SoftwareIsOnlySentAndTheStartButtonNamesTheDirection) {
  TestDialog window(fakePorts_);
  window.InitDialog();
  auto* toComputer = window.Get<QRadioButton>("toComputer");
  EXPECT_FALSE(toComputer->isEnabled());
  window.Choose("modeList", MODE_CHANNELS);
  ASSERT_TRUE(toComputer->isEnabled());
  toComputer->click();
  EXPECT_EQ(window.Get<QPushButton>("startButton")->text(), "Upload");
  window.Choose("modeList", MODE_SOFTWARE);
  EXPECT_TRUE(window.Get<QRadioButton>("toReceiver")->isChecked());
  EXPECT_FALSE(toComputer->isEnabled());
  EXPECT_EQ(window.Get<QPushButton>("startButton")->text(), "Download");
}

TEST_F(WindowTest, FirstStartCreatesAnEmptyFileAndEveryChoiceIsWrittenThrough) {
  TestDialog window(fakePorts_);
  window.InitDialog();
  EXPECT_EQ(Settings(), "");
  window.Choose("portList", 1);
  window.Choose("modeList", MODE_CHANNELS);
  window.fileAnswer = QStringLiteral("/d/list, new.fdu");
  window.Get<QPushButton>("fileButton")->click();
  EXPECT_EQ(Settings(), "[General]\nchfile=\"/d/list, new.fdu\"\nmode=1\nport=USB B\n");
}

TEST_F(WindowTest, RestoresPortModeAndEachModesFile) {
  WriteSettings("[General]\nport=usb b\nmode=1\nsoftfile=/s.ird\nchfile=/c.fdu\n");
  TestDialog window(fakePorts_);
  window.InitDialog();
  EXPECT_EQ(window.Get<QComboBox>("portList")->currentIndex(), 1);
  EXPECT_EQ(window.Get<QComboBox>("modeList")->currentIndex(), MODE_CHANNELS);
  EXPECT_TRUE(window.Get<QRadioButton>("toComputer")->isEnabled());
  EXPECT_EQ(window.Get<QLineEdit>("pathField")->text(), "/c.fdu");
  window.Choose("modeList", MODE_SOFTWARE);
  EXPECT_EQ(window.Get<QLineEdit>("pathField")->text(), "/s.ird");
  EXPECT_TRUE(Settings().contains("mode=0\n"));
}

TEST_F(WindowTest, WithoutPortsNothingStartsAndNoSettingsFileIsMade) {
  TestDialog window(PortList{});
  window.InitDialog();
  EXPECT_EQ(window.messages, QStringList{"Not available Serial Port"});
  EXPECT_FALSE(window.Get<QPushButton>("startButton")->isEnabled());
  EXPECT_FALSE(QFile::exists(SettingsFile()));
}

TEST_F(WindowTest, InputsAndDropsWaitForTheRunningTransfer) {
  Pty pty;
  ASSERT_FALSE(pty.Path().empty());
  StubWorker worker;
  TestDialog window({Port("Receiver", pty.Path())});
  window.Controller().SetWorkers(worker.Proc(), worker.Proc());
  window.InitDialog();
  const QString file = MakeFile("image.ird");
  window.Get<QLineEdit>("pathField")->setText(file);
  window.Get<QPushButton>("startButton")->click();
  ASSERT_TRUE(window.Controller().Busy());
  EXPECT_FALSE(window.InputsEnabled());
  EXPECT_FALSE(window.Get<QRadioButton>("toComputer")->isEnabled());
  EXPECT_FALSE(window.Drop(home_.filePath(QStringLiteral("other.ird"))));
  EXPECT_EQ(window.Get<QLineEdit>("pathField")->text(), file);

  worker.released = true;
  ASSERT_TRUE(WaitUntil([&] { return !window.Controller().Busy() && window.InputsEnabled(); }));
  EXPECT_FALSE(window.Get<QRadioButton>("toComputer")->isEnabled());  // still Software
  EXPECT_TRUE(window.Drop(home_.filePath(QStringLiteral("other.ird"))));
  EXPECT_EQ(window.messages, QStringList{"Error111"});  // the dropped file does not exist
}

// Nobody may be there to click: a run that cannot start ends by itself and says why on stderr.
TEST_F(WindowTest, CommandLineRunEndsByItselfWhenThePortCannotBeOpened) {
  TestDialog window(fakePorts_, MakeFile("list.fdu").toStdString());
  window.show();
  EXPECT_EQ(window.Get<QComboBox>("modeList")->currentIndex(), MODE_CHANNELS);
  EXPECT_EQ(window.Get<QLabel>("statusLine")->text(), "Open port failed!");
  ASSERT_TRUE(WaitUntil([&] { return !window.isVisible(); }));
  EXPECT_EQ(window.ExitStatus(), 1);
  EXPECT_TRUE(window.printed.join('\n').contains("Open port failed!"));
}

TEST_F(WindowTest, CommandLineRunWithoutPortsPrintsInsteadOfABoxAndEnds) {
  TestDialog window({}, MakeFile("image.ird").toStdString());
  window.show();
  ASSERT_TRUE(WaitUntil([&] { return !window.isVisible(); }));
  EXPECT_EQ(window.ExitStatus(), 1);
  EXPECT_TRUE(window.messages.isEmpty());
  EXPECT_TRUE(window.printed.contains("Not available Serial Port"));
}

// Only a regular file of a sane size is read; the test holds the FIFO open so old code fails
// rather than hangs.
TEST_F(WindowTest, SettingsThatAreNoRegularFileOrTooLargeGiveDefaults) {
  QDir().mkpath(home_.filePath(QStringLiteral("ostrel")));
  ASSERT_EQ(mkfifo(SettingsFile().toLocal8Bit().constData(), 0600), 0);
  const int fifo = open(SettingsFile().toLocal8Bit().constData(), O_RDWR | O_NONBLOCK);
  TestDialog fifoWindow(fakePorts_);
  fifoWindow.InitDialog();
  fifoWindow.Choose("portList", 1);
  close(fifo);
  EXPECT_TRUE(fifoWindow.printed.join('\n').contains("not a regular file"));
  QFile::remove(SettingsFile());

  WriteSettings("[General]\nmode=1\n" + QByteArray(1100000, ';') + "\n");
  TestDialog largeWindow(fakePorts_);
  largeWindow.InitDialog();
  EXPECT_EQ(largeWindow.Get<QComboBox>("modeList")->currentIndex(), MODE_SOFTWARE);
  EXPECT_TRUE(largeWindow.printed.join('\n').contains("over 1 MB"));
}

TEST_F(WindowTest, ChoosingWhatIsStoredLeavesTheFileAsItIs) {
  const QByteArray content = "; kept by hand\n[General]\nport=USB B\nmode=0\n";
  WriteSettings(content);
  TestDialog window(fakePorts_);
  window.InitDialog();
  window.Choose("portList", 1);
  window.Choose("modeList", MODE_SOFTWARE);
  EXPECT_EQ(Settings(), content);
}

// The list follows the virtual ports (as an adapter plugged in or out): at each opening of the
// list and on its timer. A typed path survives the choice of another port.
TEST_F(WindowTest, PortListFollowsPortsAndKeepsTheSelectionAndTypedPath) {
  Pty pty;
  qputenv("XDG_RUNTIME_DIR", home_.path().toUtf8());
  TestDialog window([] { return EnumeratePorts(); });
  window.InitDialog();
  auto* list = window.Get<QComboBox>("portList");
  const int before = list->count();
  const std::string link = RegisterVirtualPort("second", pty.Path());
  ASSERT_FALSE(link.empty());
  list->showPopup();
  list->hidePopup();
  ASSERT_EQ(list->count(), before + 1);
  const int added =
      list->findText(QString::fromStdString("Virtual Port (second) \u2014 " + pty.Path()));
  ASSERT_GE(added, 0);
  window.Get<QLineEdit>("pathField")->setText(QStringLiteral("/typed.ird"));
  window.Choose("portList", added);
  EXPECT_EQ(window.Get<QLineEdit>("pathField")->text(), "/typed.ird");
  UnregisterVirtualPort(link, pty.Path());
  EXPECT_TRUE(WaitUntil([&] { return list->count() == before; }));
}

TEST_F(WindowTest, StartButtonWorksOnceAPortAppears) {
  auto ports = std::make_shared<PortList>();
  TestDialog window([ports] { return DiscoveryResult{*ports, {}}; });
  window.InitDialog();
  auto* start = window.Get<QPushButton>("startButton");
  EXPECT_FALSE(start->isEnabled());
  *ports = fakePorts_;
  window.Get<QComboBox>("portList")->showPopup();
  EXPECT_TRUE(start->isEnabled());
  EXPECT_EQ(window.Get<QComboBox>("portList")->currentIndex(), 0);
}

TEST_F(WindowTest, ShowsDetailAndBytesRateAndTimeLeft) {
  TestDialog window(fakePorts_);
  window.InitDialog();
  TransferView view;
  view.status = "Open port failed!";
  view.detail = "Permission denied";
  view.running = true;
  view.bytesDone = 512 * 1024;
  view.bytesTotal = 2 * 1024 * 1024;
  window.Show(view);
  EXPECT_EQ(window.Get<QLabel>("detailLine")->text(), "Permission denied");
  EXPECT_TRUE(window.Get<QLabel>("progressText")->text().startsWith("512 KB of 2.0 MB"));
  EXPECT_EQ(ProgressText(1 << 20, 4 << 20, 4.0),
            QString::fromUtf8("1.0 MB of 4.0 MB \u00b7 256 KB/s \u00b7 0:12 left"));
}

TEST_F(WindowTest, AboutBoxIsEnglishUnlessTheLocaleHasATranslation) {
  EXPECT_EQ(AboutDialog().windowTitle(), "About kestal");
  EXPECT_EQ(TestDialog(fakePorts_).Get<QRadioButton>("toReceiver")->text(), "To Receiver");
  const auto korean = LoadTranslation(QLocale(QLocale::Korean, QLocale::SouthKorea));
  ASSERT_TRUE(korean);
  QApplication::installTranslator(korean.get());
  AboutDialog about;
  QApplication::removeTranslator(korean.get());
  EXPECT_EQ(about.windowTitle(), QString::fromUtf8("kestal 정보"));
  EXPECT_EQ(about.findChild<QLabel*>("aboutVersion")->text(), QString::fromUtf8("kestal 버전 1.0"));
}

// Run as a program without any display: these must not need one.
TEST(WindowProgramTest, HelpAndVersionNeedNoDisplay) {
  const std::vector<std::string> noDisplay = {"DISPLAY=", "WAYLAND_DISPLAY=", "QT_QPA_PLATFORM="};
  testing::ChildProcess version(KESTAL_PATH, {"--version"}, {noDisplay});
  EXPECT_EQ(version.Wait(), 0);
  EXPECT_EQ(version.Output(testing::Stream::Out), "kestal " KESTAL_VERSION "\n");
  testing::ChildProcess help(KESTAL_PATH, {"--help"}, {noDisplay});
  EXPECT_EQ(help.Wait(), 0);
  EXPECT_TRUE(help.Output(testing::Stream::Out).starts_with("Usage: kestal"));
}

class CommandLineTest : public WindowTest, public ::testing::WithParamInterface<WorkerOutcome> {};

TEST_P(CommandLineTest, RunClosesTheWindowWithTheTransfersExitStatus) {
  WriteSettings("[General]\nmode=0\n");
  const QString image = MakeFile("image.ird");
  Pty pty;
  StubWorker worker;
  worker.released = true;
  worker.outcome = GetParam();
  TestDialog window({Port("Receiver", pty.Path())}, image.toStdString());
  window.Controller().SetWorkers(worker.Proc(), worker.Proc());
  window.show();
  ASSERT_TRUE(WaitUntil([&] { return !window.isVisible(); }));
  EXPECT_EQ(window.ExitStatus(), GetParam() == WorkerOutcome::Completed ? 0 : 1);
  EXPECT_EQ(Settings(), "[General]\nmode=0\nsoftfile=" + image.toUtf8() + "\n");
}

INSTANTIATE_TEST_SUITE_P(Outcomes, CommandLineTest,
                         ::testing::Values(WorkerOutcome::Completed, WorkerOutcome::Failed));

}  // namespace
}  // namespace kestal::ui

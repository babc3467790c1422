// What is Qt's in the window, off screen: the controls reach the logic, drops and keys, the
// layout and Tab, the About box, the INI settings file; and the program itself, sending a file
// to kestal-sim from the command line.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDropEvent>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <filesystem>
#include <fstream>

#include "support/sim_process.h"
#include "window/qt/about_dialog.h"
#include "window/qt/ini_settings_store.h"
#include "window/qt/main_dialog.h"
#include "window/qt/report_dialog.h"
#include "window/qt/translation.h"

namespace kestal::window::qt {
namespace {

using kestal::testing::ChildProcess;
using kestal::testing::Stream;

void StartApplication() {
  static char name[] = "test_window_qt";
  static char* argv[] = {name, nullptr};
  static int argc = 1;
  qputenv("QT_QPA_PLATFORM", "offscreen");
  if (!QApplication::instance()) new QApplication(argc, argv);
}

// Shows no box; the file dialog answers `fileAnswer`.
class TestDialog : public MainDialog {
 public:
  explicit TestDialog(const PortList& ports)
      : TestDialog([ports] {
          return DiscoveryResult{ports, {}};
        }) {}
  explicit TestDialog(MainWindow::Discovery discovery) : MainDialog({}, std::move(discovery)) {}

  template <typename Widget>
  Widget* Get(const char* name) {
    return findChild<Widget*>(QString::fromLatin1(name));
  }
  void Choose(const char* list, int entry) {
    Get<QComboBox>(list)->setCurrentIndex(entry);
    emit Get<QComboBox>(list)->activated(entry);
  }
  // Drops `path` on `target` as a file manager does, as a URL and as text; true when taken.
  bool Drop(QWidget* target, const QString& path) {
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(path)});
    mime.setText(QUrl::fromLocalFile(path).toString());
    QDragEnterEvent enter({1, 1}, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    QDropEvent drop(QPointF(1, 1), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &drop);
    return enter.isAccepted() && drop.isAccepted();
  }

  std::optional<std::string> fileAnswer;
  int aboutShown = 0;
  std::vector<std::string> reports;

  void ShowBox(const std::string&, const std::string&) override {}
  std::optional<std::string> AskFileName(const FileRequest&) override { return fileAnswer; }
  void ShowAbout() override { ++aboutShown; }
  void ShowReport(const std::string&, const std::string& text) override { reports.push_back(text); }
};

class DialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    StartApplication();
    ASSERT_TRUE(home_.isValid());
    qputenv("XDG_CONFIG_HOME", home_.path().toUtf8());
  }
  QString SettingsFile() const { return home_.filePath(QStringLiteral("ostrel/pelmar.conf")); }
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
  PortList fakePorts_ = {{.devicePath = "/nonexistent/a", .friendlyName = "USB A"},
                         {.devicePath = "/nonexistent/b", .friendlyName = "USB B"}};
};

// The file a first start makes takes every choice in its format; a hand-kept one is read back
// and not rewritten when nothing changes; values of another kind are not believed.
TEST_F(DialogTest, ChoicesReachTheLogicAndTheFileKeepsItsFormat) {
  TestDialog window(fakePorts_);
  window.InitDialog();
  EXPECT_EQ(Settings(), "");
  window.Choose("portList", 1);
  window.Choose("modeList", MODE_CHANNELS);
  window.Get<QRadioButton>("toComputer")->click();  // the file is then one to write
  window.fileAnswer = "/d/list, new.fdu";
  window.Get<QPushButton>("fileButton")->click();
  EXPECT_EQ(window.Get<QLineEdit>("pathField")->text(), "/d/list, new.fdu");
  EXPECT_EQ(Settings(), "[General]\nchfile=\"/d/list, new.fdu\"\nmode=1\nport=USB B\n");

  const QByteArray content = "; kept by hand\n[General]\nport=usb b\nmode=1\nchfile=/c.fdu\n";
  WriteSettings(content);
  TestDialog again(fakePorts_);
  again.InitDialog();
  EXPECT_EQ(again.Get<QComboBox>("portList")->currentIndex(), 1);
  EXPECT_EQ(again.Get<QLineEdit>("pathField")->text(), "/c.fdu");
  again.Choose("modeList", MODE_CHANNELS);
  EXPECT_EQ(Settings(), content);
  WriteSettings("[General]\nport=@Point(1 2)\nmode=@Point(1 2)\n");
  const IniSettingsStore store(SettingsFile());
  EXPECT_EQ(store.Text("port"), std::nullopt);
  EXPECT_EQ(store.Number("mode"), std::nullopt);
}

// Only a regular file of a sane size is read or written; the test holds the FIFO open so a
// fault fails rather than hangs.
TEST_F(DialogTest, SettingsThatAreNoRegularFileOrTooLargeAreNotUsed) {
  QDir().mkpath(home_.filePath(QStringLiteral("ostrel")));
  ASSERT_EQ(mkfifo(SettingsFile().toLocal8Bit().constData(), 0600), 0);
  const int fifo = open(SettingsFile().toLocal8Bit().constData(), O_RDWR | O_NONBLOCK);
  IniSettingsStore store(SettingsFile());
  store.Create();
  store.SetText("port", "USB B");
  EXPECT_FALSE(store.Exists());
  EXPECT_NE(store.Problem().find("not a regular file"), std::string::npos);
  close(fifo);
  QFile::remove(SettingsFile());
  WriteSettings("[General]\nmode=1\n" + QByteArray(1100000, ';') + "\n");
  EXPECT_EQ(store.Number("mode"), std::nullopt);
  EXPECT_NE(store.Problem().find("over 1 MB"), std::string::npos);
}

// The path field itself would insert the file's URL at its cursor.
TEST_F(DialogTest, AFileDroppedOnThePathFieldIsTakenWhole) {
  TestDialog window(fakePorts_);
  window.InitDialog();
  auto* field = window.Get<QLineEdit>("pathField");
  field->setText(QStringLiteral("/old.ird"));
  field->setCursorPosition(2);
  EXPECT_TRUE(window.Drop(field, QStringLiteral("/d/image.ird")));
  EXPECT_EQ(field->text(), "/d/image.ird");
  EXPECT_TRUE(window.Drop(&window, QStringLiteral("/d/list.ird")));
  EXPECT_EQ(field->text(), "/d/list.ird");
}

// Tab goes as the eye does: mode, direction, file, path, port, start, stop.
TEST_F(DialogTest, TabFollowsTheLayout) {
  TestDialog window(fakePorts_);
  const QStringList expected = {"modeList",    "toReceiver", "toComputer",  "fileButton",
                                "pathField",   "portList",   "startButton", "stopButton",
                                "toolsButton", "aboutButton"};
  QStringList order;
  QWidget* widget = window.Get<QWidget>("modeList");
  for (int step = 0; step < 100; ++step, widget = widget->nextInFocusChain())
    if (expected.contains(widget->objectName()) && !order.contains(widget->objectName()))
      order << widget->objectName();
  EXPECT_EQ(order, expected);
}

// A long port name widens the window until it fits; the user may widen it further.
TEST_F(DialogTest, TheWindowWidensForLongPortNames) {
  TestDialog window(PortList{{.devicePath = "/dev/ttyUSB0",
                              .friendlyName = "FT232R USB UART - FT232R USB UART (ttyUSB0)"}});
  window.show();
  QApplication::processEvents();
  auto* list = window.Get<QComboBox>("portList");
  EXPECT_GT(list->width(), list->fontMetrics().horizontalAdvance(list->currentText()));

  auto* field = window.Get<QLineEdit>("pathField");
  const int fieldWidth = field->width();
  const int height = window.height();
  window.resize(window.width() + 100, height + 100);
  QApplication::processEvents();
  EXPECT_EQ(field->width(), fieldWidth + 100);
  EXPECT_EQ(window.height(), height);
}

TEST_F(DialogTest, AboutBoxFromItsButtonAndF1EscapeDoesNothing) {
  TestDialog window(fakePorts_);
  window.show();
  ASSERT_NE(window.Get<QPushButton>("aboutButton"), nullptr);
  window.Get<QPushButton>("aboutButton")->click();
  QTest::keyClick(&window, Qt::Key_F1);
  EXPECT_EQ(window.aboutShown, 2);
  QTest::keyClick(&window, Qt::Key_Escape);
  EXPECT_TRUE(window.isVisible());

  AboutDialog english;
  EXPECT_EQ(english.findChild<QLabel*>("aboutCopyright")->text(),
            "Copyright (c) 2026 The Kestal developers");
  EXPECT_EQ(english.findChild<QLabel*>("aboutLicence")->text(), "Released under the MIT License.");
  const auto korean = LoadTranslation(QLocale(QLocale::Korean, QLocale::SouthKorea));
  ASSERT_TRUE(korean);
  QApplication::installTranslator(korean.get());
  AboutDialog about;
  QApplication::removeTranslator(korean.get());
  EXPECT_EQ(about.windowTitle(), QString::fromUtf8("kestal 정보"));
  EXPECT_EQ(about.findChild<QLabel*>("aboutVersion")->text(), QString::fromUtf8("kestal 버전 1.0"));
}

// Through the Tools menu against emulators: Check Port reports on the selected port alone what
// kestal-cli doctor would, and Record Next Transfer records a send, bytes and all, that
// kestal-cli trace reads.
TEST_F(DialogTest, ToolsCheckThePortAndRecordTheNextSendAgainstTheEmulator) {
  kestal::testing::ScratchDir dir;
  const std::string image = dir.File("image.ird"), session = dir.File("session.rec");
  kestal::testing::WriteBytes(image, kestal::testing::TestBytes(3000, 5));
  kestal::testing::Sim checked(
      {"--request-value", "0x12345678", "download", "--mode", "software", "--size", "9"});
  kestal::testing::Sim receiver({"download", "--mode", "software", "--expect", image});
  TestDialog window(PortList{{.devicePath = checked.Device(), .friendlyName = "Checked"},
                             {.devicePath = receiver.Device(), .friendlyName = "Receiver"}});
  window.InitDialog();
  window.Get<QAction>("checkPortEntry")->trigger();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !window.reports.empty(); }, 30000));
  const std::string& report = window.reports[0];
  EXPECT_EQ(report.find("Port " + checked.Device() + ": Checked\n"), 0u) << report;
  EXPECT_NE(report.find("  ok       listen: the receiver answers: ready to transfer (request seq "
                        "01, value 0x12345678)\n"),
            std::string::npos);
  EXPECT_EQ(report.find(receiver.Device()), std::string::npos);

  window.Choose("portList", 1);
  window.fileAnswer = session;
  window.Get<QAction>("recordEntry")->trigger();
  EXPECT_TRUE(window.Get<QAction>("recordEntry")->isChecked());
  window.fileAnswer = image;
  window.Get<QPushButton>("fileButton")->click();
  window.Get<QPushButton>("startButton")->click();
  auto* detail = window.Get<QLabel>("detailLine");
  EXPECT_TRUE(QTest::qWaitFor([&] { return detail->text().startsWith("Recorded to"); }, 60000))
      << detail->text().toStdString();
  EXPECT_FALSE(window.Get<QAction>("recordEntry")->isChecked());
  EXPECT_EQ(receiver.Process().Wait(), 0);
  ChildProcess trace(kestal::testing::CliPath(), {"trace", session});
  EXPECT_EQ(trace.Wait(), 0) << trace.Output(Stream::Err);
  for (const char* part : {"kestal 1.0: send, software", "wake-up burst", "CMD_REQUEST",
                           "CMD_FINISH", "end: completed, exit status 0"})
    EXPECT_NE(trace.Output(Stream::Out).find(part), std::string::npos) << part;

  ReportDialog copied(QStringLiteral("Check Port"), QString::fromStdString(report));
  EXPECT_TRUE(copied.findChild<QPlainTextEdit*>("reportText")->isReadOnly());
  copied.findChild<QPushButton*>("copyButton")->click();
  EXPECT_EQ(QApplication::clipboard()->text().toStdString(), report);
}

// The list re-scans as it opens, so an adapter plugged in a moment ago is there, and on a
// timer; the window finishes its start-up once a first port is.
TEST_F(DialogTest, PortListRescansAsItOpens) {
  auto ports = std::make_shared<PortList>();
  TestDialog window([ports] { return DiscoveryResult{*ports, {}}; });
  window.InitDialog();
  *ports = fakePorts_;
  auto* list = window.Get<QComboBox>("portList");
  list->showPopup();
  list->hidePopup();
  EXPECT_TRUE(window.Get<QPushButton>("startButton")->isEnabled());
  EXPECT_EQ(list->count(), 2);
  ports->pop_back();  // unplugged while the window is open: its timer notices
  EXPECT_TRUE(QTest::qWaitFor([&] { return list->count() == 1; }, 30000));
}

// Run as a program without any display: these must not need one.
TEST(WindowProgramTest, HelpAndVersionNeedNoDisplayAndNameTheLicence) {
  const std::vector<std::string> noDisplay = {"DISPLAY=", "WAYLAND_DISPLAY=", "QT_QPA_PLATFORM="};
  ChildProcess version(KESTAL_PATH, {"--version"}, {noDisplay});
  EXPECT_EQ(version.Wait(), 0);
  EXPECT_EQ(version.Output(Stream::Out),
            "kestal 1.0\nCopyright (c) 2026 The Kestal developers\n"
            "Released under the MIT License.\n");
  ChildProcess help(KESTAL_PATH, {"--help"}, {noDisplay});
  EXPECT_EQ(help.Wait(), 0);
  EXPECT_TRUE(help.Output(Stream::Out).starts_with("Usage: kestal [FILE]"));
}

// `kestal FILE` sends the file through the port used last, as ~/.config/ostrel/pelmar.conf
// names it, and exits 0 once the receiver has it all.
TEST(WindowProgramTest, SendsAFileNamedOnTheCommandLineAndExits) {
  kestal::testing::ScratchDir home;
  const std::string image = home.File("image.ird");
  kestal::testing::WriteBytes(image, kestal::testing::TestBytes(20000, 7));
  std::filesystem::create_directories(home.Path() / ".config/ostrel");
  std::ofstream(home.File(".config/ostrel/pelmar.conf")) << "[General]\nport=Virtual Port (box)\n";
  kestal::testing::Sim sim({"download", "--mode", "software", "--expect", image});
  ASSERT_FALSE(sim.Device().empty());
  kestal::testing::ChildOptions options = sim.ToolOptions();
  for (const std::string& variable :
       {"HOME=" + home.Path().string(), std::string("XDG_CONFIG_HOME="),
        std::string("QT_QPA_PLATFORM=offscreen")})
    options.environment.push_back(variable);
  ChildProcess window(KESTAL_PATH, {image}, options);
  EXPECT_EQ(window.Wait(), 0) << window.Output(Stream::Err);
  EXPECT_NE(window.Output(Stream::Err).find("Transfer complete !"), std::string::npos);
  EXPECT_EQ(sim.Process().Wait(), 0);
  EXPECT_NE(sim.Process().Output(Stream::Err).find("download ok, 20000 bytes"), std::string::npos);
}

}  // namespace
}  // namespace kestal::window::qt

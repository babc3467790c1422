// The main window without a receiver: start-up and restored settings, the port search, the
// mode and direction rules, the file dialog, drops, keys and the no-port start. Windows are
// initialised without being shown (only the first-start test shows one, without painting it):
// painting starts Qt's own image threads, which ThreadSanitizer cannot follow.
#include <QButtonGroup>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>
#include <condition_variable>
#include <mutex>
#include <pty.h>
#include <unistd.h>

#include "transfer/control_ids.h"
#include "ui/about_dialog.h"
#include "ui/dialog_units.h"
#include "ui/settings_key.h"
#include "ui/settings_names.h"
#include "ui_test_support.h"

using namespace kestal;
using test::Ctl;
using test::RecordingDialog;

namespace {

const QStringList kTwoPorts{QStringLiteral("Serial Port (ttyS0)"), QStringLiteral("USB Serial (ttyUSB0)")};

std::string StoredValue(const char* name) {
  SettingsKey key;
  std::string text;
  if (key.Open(SettingsRoot::CurrentUser, SETTINGS_PATH)) key.GetString(name, text);
  return text;
}

QString Status(QWidget* w) { return Ctl<QLabel>(w, IDC_STATUS)->text(); }

// A pseudo-terminal whose slave the window can open as its port.
struct PseudoTerminal {
  int master = -1, slave = -1;
  QString slavePath;
  PseudoTerminal() {
    char name[256] = {};
    if (openpty(&master, &slave, name, nullptr, nullptr) == 0) slavePath = QString::fromLocal8Bit(name);
  }
  ~PseudoTerminal() {
    if (master >= 0) close(master);
    if (slave >= 0) close(slave);
  }
};

// A worker that holds the transfer open until the test releases it.
struct HeldWorker {
  std::mutex mutex;
  std::condition_variable released;
  bool release = false;
  int operator()(TransferJob& job) {
    std::unique_lock<std::mutex> lock(mutex);
    released.wait(lock, [&] { return release; });
    lock.unlock();
    job.m_hNotifyWnd->NotifyDone(0);
    return 0;
  }
  // Releases the worker when a test leaves early, before the window joins it.
  struct Guard {
    HeldWorker& worker;
    ~Guard() { worker.Release(); }
  };
  void Release() {
    {
      std::lock_guard<std::mutex> lock(mutex);
      release = true;
    }
    released.notify_all();
  }
};

// A window whose transfer of a 300-byte Software file over a pseudo-terminal is held open by a
// worker until the test releases it (at the latest when this goes, before the window joins it).
struct HeldTransfer {
  explicit HeldTransfer(const test::TestHome& home)
      : sent(test::WriteFile(home.Path(QStringLiteral("sent.ird")), QByteArray(300, 's'))) {
    test::WriteSettings(QStringLiteral("[General]\nsoftfile=%1\n").arg(sent));
    window = std::make_unique<RecordingDialog>(test::FakePorts({QStringLiteral("pty")}, {pty.slavePath}));
    window->Controller().SetWorkers(std::ref(worker), std::ref(worker));
    window->InitDialog();
    QTest::mouseClick(Ctl<QPushButton>(window.get(), IDC_START), Qt::LeftButton);
  }

  PseudoTerminal pty;
  HeldWorker worker;
  QString sent;
  std::unique_ptr<RecordingDialog> window;
  HeldWorker::Guard releaseOnExit{worker};
};

}  // namespace

class MainDialogTest : public QObject {
  Q_OBJECT

 private slots:
  void init() { m_home = std::make_unique<test::TestHome>(); }
  void cleanup() { m_home.reset(); }

  void firstStartShowsTheTemplateCreatesTheKeyAndShowsDefaults() {
    RecordingDialog w(test::FakePorts(kTwoPorts));
    QCOMPARE(w.windowTitle(), QStringLiteral("kestal"));
    QCOMPARE(Ctl<QComboBox>(&w, IDC_MODE)->count(), 2);
    QCOMPARE(Ctl<QComboBox>(&w, IDC_MODE)->itemText(0), QStringLiteral("Software"));
    QCOMPARE(Ctl<QComboBox>(&w, IDC_MODE)->itemText(1), QStringLiteral("Channels"));
    QCOMPARE(Ctl<QRadioButton>(&w, IDC_TO_RECEIVER)->text(), QStringLiteral("To Reciever"));
    QCOMPARE(Ctl<QRadioButton>(&w, IDC_TO_COMPUTER)->text(), QStringLiteral("To Computer"));
    QCOMPARE(Ctl<QPushButton>(&w, IDC_FILE)->text(), QStringLiteral("File"));
    QCOMPARE(Ctl<QPushButton>(&w, IDC_START)->text(), QStringLiteral("Download"));
    QVERIFY(Ctl<QPushButton>(&w, IDC_START)->isDefault());
    QCOMPARE(Ctl<QPushButton>(&w, IDC_STOP)->text(), QStringLiteral("Stop"));
    QCOMPARE(Ctl<QLabel>(&w, IDC_PORT_LABEL)->text(), QStringLiteral("Communication Port :"));
    QCOMPARE(w.findChild<QLabel*>(QStringLiteral("modeLabel"))->text(), QStringLiteral("Mode"));
    QCOMPARE(w.findChild<QGroupBox*>(QStringLiteral("statusGroup"))->title(), QStringLiteral("Status"));
    QVERIFY(w.findChild<QGroupBox*>(QStringLiteral("modeGroup")));
    QCOMPARE(Ctl<QProgressBar>(&w, IDC_PROGRESS)->maximum(), 100);
    QVERIFY(!w.Initialised());

    w.show();  // showing the window initialises it
    QVERIFY(w.Initialised());
    QVERIFY(w.messages.empty());
    QVERIFY(QFile::exists(m_home->SettingsFile()));
    QCOMPARE(QFileInfo(m_home->SettingsFile()).size(), 0);
    QCOMPARE(Ctl<QComboBox>(&w, IDC_MODE)->currentIndex(), MODE_SOFTWARE);
    QVERIFY(Ctl<QRadioButton>(&w, IDC_TO_RECEIVER)->isChecked());
    QVERIFY(!Ctl<QRadioButton>(&w, IDC_TO_COMPUTER)->isEnabled());
    QCOMPARE(Ctl<QComboBox>(&w, IDC_PORT)->currentIndex(), 0);
    QCOMPARE(Ctl<QComboBox>(&w, IDC_PORT)->currentText(), kTwoPorts[0]);
    QCOMPARE(Ctl<QComboBox>(&w, IDC_PORT)->itemText(1), kTwoPorts[1]);  // discovery order
    QCOMPARE(Ctl<QLineEdit>(&w, IDC_PATH)->text(), QString());
    QCOMPARE(Status(&w), QStringLiteral("Kestal Vantro Manager."));
    QCOMPARE(Ctl<QLabel>(&w, IDC_PERCENT)->text(), QString());
    QCOMPARE(w.windowTitle(), QStringLiteral("Kestal"));
    QVERIFY(w.acceptDrops());
    QVERIFY(!w.windowIcon().isNull());
  }

  // The layout follows the font: the same dialog units give proportionally larger controls.
  void layoutScalesWithTheFont() {
    QFont small = QApplication::font();
    small.setPointSize(9);
    QFont large = small;
    large.setPointSize(18);
    const DialogUnits s(small), l(large);
    QVERIFY(l.CharWidth() > s.CharWidth());
    QVERIFY(l.LineHeight() > s.LineHeight());
    RecordingDialog w(test::FakePorts(kTwoPorts));
    QCOMPARE(w.size(), s.ToPixels(211, 165));
    QCOMPARE(Ctl<QWidget>(&w, IDC_PATH)->geometry(), s.ToPixels(DialogRect{51, 44, 150, 17}));
    QCOMPARE(Ctl<QWidget>(&w, IDC_START)->geometry(), s.ToPixels(DialogRect{8, 67, 83, 18}));
    // Neighbouring controls do not overlap: File ends before the path field begins.
    QVERIFY(Ctl<QWidget>(&w, IDC_FILE)->geometry().right() < Ctl<QWidget>(&w, IDC_PATH)->x());
  }

  void restoresPortModeAndThePathOfTheMode() {
    const QString longPath = QStringLiteral("/data/") + QString(320, QLatin1Char('c')) + QStringLiteral(".fdu");
    test::WriteSettings(QStringLiteral("[General]\nport=USB Serial\nmode=1\nsoftfile=/data/a.ird\nchfile=") +
                        longPath + QLatin1Char('\n'));
    RecordingDialog w(test::FakePorts(kTwoPorts));
    w.InitDialog();
    QCOMPARE(Ctl<QComboBox>(&w, IDC_MODE)->currentIndex(), MODE_CHANNELS);
    QVERIFY(Ctl<QRadioButton>(&w, IDC_TO_COMPUTER)->isEnabled());
    QVERIFY(Ctl<QRadioButton>(&w, IDC_TO_RECEIVER)->isChecked());
    QCOMPARE(Ctl<QLineEdit>(&w, IDC_PATH)->text(), longPath);
    QCOMPARE(Ctl<QComboBox>(&w, IDC_PORT)->currentIndex(), 1);
  }

  // Settings that hold nothing usable give the first start's choices, and the mode rules hold
  // even where nothing can be stored.
  void oddSettingsMeanDefaults_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("directory");  // a directory where the file should be
    QTest::addColumn<QString>("path");
    QByteArray garbage("\x00\xff[General\nmode=\x01\x02zz\nport", 24);
    garbage += QByteArray(2000, '\xee');
    QTest::newRow("key without values") << QByteArray() << false << QString();
    QTest::newRow("damaged") << garbage << false << QString();
    QTest::newRow("unusable") << QByteArray() << true << QString();
    QTest::newRow("unknown mode") << QByteArray("[General]\nmode=7\nsoftfile=/s.ird\n")
                                  << false << QStringLiteral("/s.ird");
  }
  void oddSettingsMeanDefaults() {
    QFETCH(QByteArray, content);
    QFETCH(bool, directory);
    QFETCH(QString, path);
    if (directory) {
      QVERIFY(QDir().mkpath(m_home->SettingsFile()));
    } else {
      test::WriteFile(m_home->SettingsFile(), content);
    }
    RecordingDialog w(test::FakePorts(kTwoPorts));
    w.InitDialog();
    QCOMPARE(Ctl<QComboBox>(&w, IDC_MODE)->currentIndex(), MODE_SOFTWARE);
    QCOMPARE(Ctl<QComboBox>(&w, IDC_PORT)->currentIndex(), 0);
    QCOMPARE(Ctl<QLineEdit>(&w, IDC_PATH)->text(), path);
    QVERIFY(!Ctl<QRadioButton>(&w, IDC_TO_COMPUTER)->isEnabled());
    QCOMPARE(Status(&w), QStringLiteral("Kestal Vantro Manager."));
    QCOMPARE(w.windowTitle(), QStringLiteral("Kestal"));
    test::Choose(Ctl<QComboBox>(&w, IDC_MODE), MODE_CHANNELS);
    QCOMPARE(Ctl<QLineEdit>(&w, IDC_PATH)->text(), QString());  // no stored Channels path
    QCOMPARE(w.Job().m_nFileSize.load(), 0);
    QVERIFY(Ctl<QRadioButton>(&w, IDC_TO_COMPUTER)->isEnabled());
    QTest::mouseClick(Ctl<QRadioButton>(&w, IDC_TO_COMPUTER), Qt::LeftButton);
    test::Choose(Ctl<QComboBox>(&w, IDC_MODE), MODE_SOFTWARE);
    QVERIFY(!Ctl<QRadioButton>(&w, IDC_TO_COMPUTER)->isEnabled());
    QCOMPARE(w.Job().m_nDirection.load(), DIR_TO_RECEIVER);
    QCOMPARE(Ctl<QPushButton>(&w, IDC_START)->text(), QStringLiteral("Download"));
  }

  void portSearch_data() {
    QTest::addColumn<QStringList>("ports");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<int>("selected");
    QTest::newRow("prefix of entries 0 and 1 picks entry 1")
        << QStringList{"COM1", "COM10", "COM2"} << "com1" << 1;
    QTest::newRow("entry 0 is tried last") << QStringList{"COM1", "COM2", "COM3"} << "COM1" << 0;
    QTest::newRow("case is ignored") << QStringList{"a", "Virtual Port (x)"} << "VIRTUAL port" << 1;
    QTest::newRow("a later entry") << QStringList{"A", "B", "C"} << "C" << 2;
    QTest::newRow("no match leaves no selection") << QStringList{"A", "B"} << "Z" << -1;
    QTest::newRow("longer than the entry") << QStringList{"COM1"} << "COM12" << -1;
  }
  void portSearch() {
    QFETCH(QStringList, ports);
    QFETCH(QString, stored);
    QFETCH(int, selected);
    const QString file = test::WriteFile(m_home->Path(QStringLiteral("a.ird")), QByteArray(100, 'x'));
    test::WriteSettings(QStringLiteral("[General]\nport=%1\nsoftfile=%2\n").arg(stored, file));
    RecordingDialog w(test::FakePorts(ports));
    w.InitDialog();
    QCOMPARE(Ctl<QComboBox>(&w, IDC_PORT)->currentIndex(), selected);
    if (selected >= 0) return;
    // With no port selected the start button reports an open failure and starts nothing.
    QTest::mouseClick(Ctl<QPushButton>(&w, IDC_START), Qt::LeftButton);
    QCOMPARE(Status(&w), QStringLiteral("Open port failed!"));
    QCOMPARE(w.Job().m_bRunning.load(), 0);
    QVERIFY(Ctl<QWidget>(&w, IDC_FILE)->isEnabled());
  }

  void choosingAPortStoresIt() {
    RecordingDialog w(test::FakePorts(kTwoPorts));
    w.InitDialog();
    test::Choose(Ctl<QComboBox>(&w, IDC_PORT), 1);
    QCOMPARE(StoredValue(VALUE_PORT), kTwoPorts[1].toStdString());
  }

  void modeAndDirectionRules() {
    test::WriteSettings(QStringLiteral("[General]\nsoftfile=/s.ird\nchfile=/c.fdu\n"));
    RecordingDialog w(test::FakePorts(kTwoPorts));
    w.InitDialog();
    auto* mode = Ctl<QComboBox>(&w, IDC_MODE);
    auto* toReceiver = Ctl<QRadioButton>(&w, IDC_TO_RECEIVER);
    auto* toComputer = Ctl<QRadioButton>(&w, IDC_TO_COMPUTER);
    auto* start = Ctl<QPushButton>(&w, IDC_START);
    QCOMPARE(Ctl<QLineEdit>(&w, IDC_PATH)->text(), QStringLiteral("/s.ird"));

    test::Choose(mode, MODE_CHANNELS);
    QVERIFY(toComputer->isEnabled());
    QVERIFY(toReceiver->isChecked());
    QCOMPARE(start->text(), QStringLiteral("Download"));
    QCOMPARE(Ctl<QLineEdit>(&w, IDC_PATH)->text(), QStringLiteral("/c.fdu"));
    QVERIFY(test::ReadSettings().contains(QStringLiteral("mode=1")));

    QTest::mouseClick(toComputer, Qt::LeftButton);
    QVERIFY(toComputer->isChecked());
    QCOMPARE(start->text(), QStringLiteral("Upload"));
    QCOMPARE(w.Job().m_nDirection.load(), DIR_TO_COMPUTER);
    QTest::mouseClick(toReceiver, Qt::LeftButton);
    QCOMPARE(start->text(), QStringLiteral("Download"));

    QTest::mouseClick(toComputer, Qt::LeftButton);
    test::Choose(mode, MODE_SOFTWARE);  // a mode change resets the direction
    QVERIFY(!toComputer->isEnabled());
    QVERIFY(toReceiver->isChecked());
    QCOMPARE(start->text(), QStringLiteral("Download"));
    QCOMPARE(w.Job().m_nDirection.load(), DIR_TO_RECEIVER);
    QCOMPARE(Ctl<QLineEdit>(&w, IDC_PATH)->text(), QStringLiteral("/s.ird"));
    QVERIFY(test::ReadSettings().contains(QStringLiteral("mode=0")));
  }

  void fileDialogPerModeAndDirection() {
    const QString ird = test::WriteFile(m_home->Path(QStringLiteral("image.ird")), QByteArray(1234, 'i'));
    RecordingDialog w(test::FakePorts(kTwoPorts));
    w.InitDialog();
    auto* fileButton = Ctl<QPushButton>(&w, IDC_FILE);

    w.fileAnswer = ird;
    QTest::mouseClick(fileButton, Qt::LeftButton);
    QCOMPARE(w.fileRequests.size(), size_t{1});
    const FileDialogRequest software = w.fileRequests.back();
    QVERIFY(!software.saveAs);
    QCOMPARE(software.filter, QStringLiteral("IRD File (*.ird);;All file (*.*)"));
    QCOMPARE(software.defaultSuffix, QStringLiteral("IRD"));
    QVERIFY(!software.options.testFlag(QFileDialog::DontConfirmOverwrite));
    QCOMPARE(Ctl<QLineEdit>(&w, IDC_PATH)->text(), ird);
    QCOMPARE(w.Job().m_nFileSize.load(), 1234);
    QCOMPARE(StoredValue(VALUE_SOFTFILE), ird.toStdString());

    // A cancelled dialog still stores the path typed into the field.
    Ctl<QLineEdit>(&w, IDC_PATH)->setText(QStringLiteral("/typed/by/user.ird"));
    w.fileAnswer.reset();
    QTest::mouseClick(fileButton, Qt::LeftButton);
    QCOMPARE(w.fileRequests.back().initialPath, QStringLiteral("/typed/by/user.ird"));
    QCOMPARE(StoredValue(VALUE_SOFTFILE), std::string("/typed/by/user.ird"));
    QCOMPARE(w.Job().m_nFileSize.load(), 0);

    test::Choose(Ctl<QComboBox>(&w, IDC_MODE), MODE_CHANNELS);
    w.fileAnswer = m_home->Path(QStringLiteral("list.fdu"));
    QTest::mouseClick(fileButton, Qt::LeftButton);
    const FileDialogRequest toReceiver = w.fileRequests.back();
    QVERIFY(!toReceiver.saveAs);
    QCOMPARE(toReceiver.filter, QStringLiteral("Flash Data Unit (*.fdu);;All file (*.*)"));
    QCOMPARE(toReceiver.defaultSuffix, QStringLiteral("fdu"));
    QCOMPARE(toReceiver.initialPath, QString());

    QTest::mouseClick(Ctl<QRadioButton>(&w, IDC_TO_COMPUTER), Qt::LeftButton);
    w.fileAnswer = m_home->Path(QStringLiteral("new.fdu"));  // need not exist
    QTest::mouseClick(fileButton, Qt::LeftButton);
    const FileDialogRequest toComputer = w.fileRequests.back();
    QVERIFY(toComputer.saveAs);
    QCOMPARE(toComputer.defaultSuffix, QStringLiteral("fdu"));
    QVERIFY(toComputer.options.testFlag(QFileDialog::DontConfirmOverwrite));
    QCOMPARE(toComputer.initialPath, m_home->Path(QStringLiteral("list.fdu")));
    QCOMPARE(StoredValue(VALUE_CHFILE), m_home->Path(QStringLiteral("new.fdu")).toStdString());
  }

  void dropTakesTheFirstFileAndShowsError111ForAnUnreadableOne() {
    const QString missing = m_home->Path(QStringLiteral("missing.fdu"));
    const QString first = test::WriteFile(m_home->Path(QStringLiteral("one.ird")), QByteArray(77, '1'));
    const QString second = test::WriteFile(m_home->Path(QStringLiteral("two.ird")), QByteArray(5, '2'));
    RecordingDialog w(test::FakePorts(kTwoPorts));
    w.InitDialog();
    QVERIFY(test::DropFiles(&w, {missing}));
    QCOMPARE(w.messages.size(), size_t{1});
    QCOMPARE(w.messages[0].text, QStringLiteral("Error111"));
    QCOMPARE(w.messages[0].caption, QString());
    QCOMPARE(Ctl<QLineEdit>(&w, IDC_PATH)->text(), missing);  // the path is kept
    QCOMPARE(w.Job().m_nFileSize.load(), 0);
    QCOMPARE(StoredValue(VALUE_SOFTFILE), missing.toStdString());

    QVERIFY(test::DropFiles(&w, {first, second}));
    QCOMPARE(Ctl<QLineEdit>(&w, IDC_PATH)->text(), first);
    QCOMPARE(w.Job().m_nFileSize.load(), 77);
    QCOMPARE(StoredValue(VALUE_SOFTFILE), first.toStdString());
    QCOMPARE(w.messages.size(), size_t{1});
  }

  void dropsAreRefusedWhileATransferRuns() {
    HeldTransfer held(*m_home);
    RecordingDialog& w = *held.window;
    QVERIFY(!held.pty.slavePath.isEmpty());
    const QString other = test::WriteFile(m_home->Path(QStringLiteral("other.ird")), QByteArray(9, 'o'));
    QCOMPARE(Status(&w), QStringLiteral("Waiting For Request. Reset SetTop Box."));
    QCOMPARE(w.Job().m_bRunning.load(), 1);
    for (int id : {IDC_FILE, IDC_PATH, IDC_PORT, IDC_MODE, IDC_TO_RECEIVER, IDC_TO_COMPUTER})
      QVERIFY2(!Ctl<QWidget>(&w, id)->isEnabled(), qPrintable(QString::number(id)));

    QVERIFY(!test::DropFiles(&w, {other}));
    QCOMPARE(w.Job().m_strFilePath, held.sent.toStdString());
    QCOMPARE(w.Job().m_nFileSize.load(), 300);
    QCOMPARE(StoredValue(VALUE_SOFTFILE), held.sent.toStdString());

    held.worker.Release();
    QTRY_COMPARE(w.Job().m_bRunning.load(), 0);
    QTRY_VERIFY(!w.Controller().WorkerAlive());
    QVERIFY(Ctl<QWidget>(&w, IDC_FILE)->isEnabled());
    QVERIFY(test::DropFiles(&w, {other}));
    QCOMPARE(w.Job().m_strFilePath, other.toStdString());
  }

  // The reader thread must not wait for the window: its notice arrives later, without a box
  // that blocks, while the transfer goes on.
  void readerOverflowNoticeReachesTheWindow() {
    HeldTransfer held(*m_home);  // its worker never drains the receive queue
    RecordingDialog& w = *held.window;
    QCOMPARE(w.Job().m_bRunning.load(), 1);
    const QByteArray flood(3 * 8192, '\x55');
    QCOMPARE(write(held.pty.master, flood.constData(), static_cast<size_t>(flood.size())),
             static_cast<ssize_t>(flood.size()));
    QTRY_VERIFY(!w.notices.isEmpty());
    QCOMPARE(w.notices.front(), QStringLiteral("m_QueueRead FULL!"));
    QVERIFY(w.messages.empty());
    QCOMPARE(w.Job().m_bRunning.load(), 1);
  }

  void escapeDoesNotCloseTheWindowAndF1OpensTheAboutBox() {
    RecordingDialog w(test::FakePorts(kTwoPorts));
    w.InitDialog();
    QSignalSpy ended(&w, &QDialog::finished);
    for (QWidget* target : {static_cast<QWidget*>(&w), Ctl<QWidget>(&w, IDC_PATH)}) {
      QTest::keyClick(target, Qt::Key_Escape);
      QTest::keyClick(target, Qt::Key_F1);
    }
    QCOMPARE(ended.count(), 0);
    QCOMPARE(w.Job().m_bClosing.load(), 0);
    QCOMPARE(w.aboutBoxes, 2);
  }

  void aboutBoxTexts() {
    AboutDialog about;
    QCOMPARE(about.windowTitle(), QString::fromUtf8("kestal 정보"));
    QCOMPARE(about.findChild<QLabel*>(QStringLiteral("aboutVersion"))->text(),
             QString::fromUtf8("kestal 버전 1.0"));
    QVERIFY(!about.findChild<QLabel*>(QStringLiteral("aboutNote"))->text().isEmpty());
    auto* ok = about.findChild<QPushButton*>(QStringLiteral("ctl1"));
    QCOMPARE(ok->text(), QString::fromUtf8("확인"));
    QVERIFY(ok->isDefault());
    about.show();
    QTest::mouseClick(ok, Qt::LeftButton);
    QCOMPARE(about.result(), int(QDialog::Accepted));
  }

  // No port, or a discovery failure (shown first): the start button is disabled and the rest of
  // the start-up (settings, command line) is skipped.
  void noPortsDisablesStartAndSkipsTheRest_data() {
    QTest::addColumn<QString>("failure");
    QTest::newRow("no port") << QString();
    QTest::newRow("discovery failure") << QStringLiteral("Virtual port directory /x is not private.");
  }
  void noPortsDisablesStartAndSkipsTheRest() {
    QFETCH(QString, failure);
    RecordingDialog w(
        [failure](PortList& list) {
          list.push_back(PortInfo{});
          if (!failure.isEmpty()) throw failure.toStdString();
          list.clear();
        },
        "/some/file.fdu");
    w.InitDialog();
    QStringList shown;
    for (const auto& message : w.messages) {
      QCOMPARE(message.caption, QStringLiteral("Error"));
      shown << message.text;
    }
    QCOMPARE(shown, (failure.isEmpty() ? QStringList{} : QStringList{failure}) +
                        QStringList{QStringLiteral("Not available Serial Port")});
    QCOMPARE(Ctl<QComboBox>(&w, IDC_PORT)->count(), 0);
    QVERIFY(!Ctl<QPushButton>(&w, IDC_START)->isEnabled());
    QCOMPARE(w.windowTitle(), QStringLiteral("kestal"));
    QCOMPARE(Status(&w), QString());
    QVERIFY(!QFile::exists(m_home->SettingsFile()));  // settings untouched
    QCOMPARE(w.Job().m_bRunning.load(), 0);
    QVERIFY(!w.acceptDrops());
  }

  void commandLinePathIsSavedUnderTheStoredMode() {
    const QString list = test::WriteFile(m_home->Path(QStringLiteral("list.fdu")), QByteArray(64, 'c'));
    test::WriteSettings(QStringLiteral("[General]\nport=nothing\nmode=0\nsoftfile=/old.ird\n"));
    const QString relative = QDir::current().relativeFilePath(list);
    RecordingDialog w(test::FakePorts(kTwoPorts), relative.toStdString());
    w.InitDialog();
    // Saved under the stored (Software) mode before the file name chose Channels.
    QCOMPARE(StoredValue(VALUE_SOFTFILE), list.toStdString());
    QVERIFY(test::ReadSettings().contains(QStringLiteral("mode=0")));
    QCOMPARE(Ctl<QComboBox>(&w, IDC_MODE)->currentIndex(), MODE_CHANNELS);
    QCOMPARE(w.Job().m_nMode.load(), MODE_CHANNELS);
    QCOMPARE(Ctl<QLineEdit>(&w, IDC_PATH)->text(), list);
    QCOMPARE(Status(&w), QStringLiteral("Open port failed!"));  // no port selected
    QCOMPARE(w.windowTitle(), QStringLiteral("Kestal"));
  }

  void commandLineModeFromTheLastThreeCharacters_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("mode");
    QTest::newRow("fdu") << "a.fdu" << MODE_CHANNELS;
    QTest::newRow("FDU") << "b.FDU" << MODE_CHANNELS;
    QTest::newRow("mixed case") << "c.Fdu" << MODE_SOFTWARE;
    QTest::newRow("no dot needed") << "channelsfdu" << MODE_CHANNELS;
    QTest::newRow("ird") << "d.ird" << MODE_SOFTWARE;
    QTest::newRow("short") << "du" << MODE_SOFTWARE;
  }
  void commandLineModeFromTheLastThreeCharacters() {
    QFETCH(QString, name);
    QFETCH(int, mode);
    test::WriteSettings(QStringLiteral("[General]\nport=nothing\nmode=1\n"));
    RecordingDialog w(test::FakePorts(kTwoPorts), m_home->Path(name).toStdString());
    w.InitDialog();
    QCOMPARE(Ctl<QComboBox>(&w, IDC_MODE)->currentIndex(), mode);
    QCOMPARE(w.Job().m_nDirection.load(), DIR_TO_RECEIVER);
  }

  void closingWhileATransferWaitsDoesNotHang() {
    HeldTransfer held(*m_home);
    QCOMPARE(held.window->Job().m_bRunning.load(), 1);
    held.window->close();
    QCOMPARE(held.window->Job().m_bClosing.load(), 1);
    held.worker.Release();  // its NotifyDone now returns without the window
    held.window.reset();    // destruction joins the worker
  }

 private:
  std::unique_ptr<test::TestHome> m_home;
};

QTEST_MAIN(MainDialogTest)
#include "test_main_dialog.moc"

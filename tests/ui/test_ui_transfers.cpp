// The window against the receiver emulator (kestal-sim): transfers driven through the window's
// buttons, closing during a transfer, and the command-line mode's exit status. Windows are
// initialised without being shown: nothing needs painting, and Qt's painting threads are
// invisible to ThreadSanitizer.
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>

#include "transfer/control_ids.h"
#include "ui_test_support.h"

using namespace kestal;
using test::Ctl;
using test::RecordingDialog;
using test::Simulator;

namespace {

constexpr int kTransferTimeoutMs = 90000;

QString Status(QWidget* w) { return Ctl<QLabel>(w, IDC_STATUS)->text(); }

QByteArray ReadAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Remembers the highest value the progress bar showed.
struct ProgressWatch {
  int highest = 0;
  QMetaObject::Connection connection;
  explicit ProgressWatch(QProgressBar* bar) {
    connection = QObject::connect(bar, &QProgressBar::valueChanged,
                                  [this](int value) { highest = std::max(highest, value); });
  }
  ~ProgressWatch() { QObject::disconnect(connection); }
};

}  // namespace

class UiTransfersTest : public QObject {
  Q_OBJECT

 private slots:
  void init() { m_home = std::make_unique<test::TestHome>(); }
  void cleanup() { m_home.reset(); }

  void channelsDownloadThroughTheWindow() {
    const QString list = test::ExamplesDir() + QStringLiteral("/sample.fdu");
    Simulator sim({"download", "--mode", "channels", "--expect", list});
    QVERIFY2(sim.Started(), qPrintable(sim.Errors()));
    test::WriteSettings(
        QStringLiteral("[General]\nport=%1\nmode=1\nchfile=%2\n").arg(sim.PortName(), list));
    RecordingDialog w({});
    w.InitDialog();
    QCOMPARE(Ctl<QComboBox>(&w, IDC_PORT)->currentText(), sim.PortName());
    ProgressWatch progress(Ctl<QProgressBar>(&w, IDC_PROGRESS));

    QTest::mouseClick(Ctl<QPushButton>(&w, IDC_START), Qt::LeftButton);
    QCOMPARE(Status(&w), QStringLiteral("Waiting For Request. Reset SetTop Box."));
    QVERIFY(!Ctl<QWidget>(&w, IDC_MODE)->isEnabled());
    QTRY_COMPARE_WITH_TIMEOUT(Status(&w), QStringLiteral("Transfer complete !"), kTransferTimeoutMs);
    QTRY_VERIFY(!w.Controller().WorkerAlive());
    QCOMPARE(progress.highest, 100);
    QCOMPARE(Ctl<QProgressBar>(&w, IDC_PROGRESS)->value(), 0);
    QCOMPARE(Ctl<QLabel>(&w, IDC_PERCENT)->text(), QStringLiteral("0%"));
    QVERIFY(Ctl<QWidget>(&w, IDC_MODE)->isEnabled());
    QVERIFY(Ctl<QWidget>(&w, IDC_TO_COMPUTER)->isEnabled());
    QCOMPARE(sim.Finish(kTransferTimeoutMs), 0);
    QCOMPARE(w.ExitStatus(), 0);
    QCOMPARE(w.Job().m_bClosing.load(), 0);  // not command-line mode: the window stays
  }

  void uploadThroughTheWindow() {
    const QString served = test::ExamplesDir() + QStringLiteral("/sample.fdu");
    Simulator sim({"upload", "--serve", served});
    QVERIFY2(sim.Started(), qPrintable(sim.Errors()));
    test::WriteSettings(QStringLiteral("[General]\nport=%1\nmode=1\n").arg(sim.PortName()));
    const QString target = m_home->Path(QStringLiteral("received.fdu"));
    RecordingDialog w({});
    w.InitDialog();
    QTest::mouseClick(Ctl<QRadioButton>(&w, IDC_TO_COMPUTER), Qt::LeftButton);
    QCOMPARE(Ctl<QPushButton>(&w, IDC_START)->text(), QStringLiteral("Upload"));
    w.fileAnswer = target;
    QTest::mouseClick(Ctl<QPushButton>(&w, IDC_FILE), Qt::LeftButton);
    QVERIFY(w.fileRequests.back().saveAs);
    ProgressWatch progress(Ctl<QProgressBar>(&w, IDC_PROGRESS));

    QTest::mouseClick(Ctl<QPushButton>(&w, IDC_START), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(Status(&w), QStringLiteral("Transfer complete !"), kTransferTimeoutMs);
    QTRY_VERIFY(!w.Controller().WorkerAlive());
    QVERIFY(progress.highest > 0);
    QCOMPARE(ReadAll(target), ReadAll(served));
    QCOMPARE(sim.Finish(kTransferTimeoutMs), 0);
  }

  void closingDuringATransferEndsPromptly() {
    const QString image = test::ExamplesDir() + QStringLiteral("/sample.ird");
    // The receiver goes quiet after a few blocks but keeps the port open.
    Simulator sim({"--silence-after", "3", "download", "--mode", "software", "--expect", image,
                   "--block-size", "512"});
    QVERIFY2(sim.Started(), qPrintable(sim.Errors()));
    test::WriteSettings(
        QStringLiteral("[General]\nport=%1\nmode=0\nsoftfile=%2\n").arg(sim.PortName(), image));
    auto w = std::make_unique<RecordingDialog>(MainDialog::Discovery{});
    w->InitDialog();
    ProgressWatch progress(Ctl<QProgressBar>(w.get(), IDC_PROGRESS));
    QTest::mouseClick(Ctl<QPushButton>(w.get(), IDC_START), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(progress.highest > 0, kTransferTimeoutMs);
    QVERIFY(w->Controller().WorkerAlive());

    QElapsedTimer clock;
    clock.start();
    w->close();
    w.reset();  // joins the worker
    QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
    // The receiver sees the port closed (mid-transfer or while silent) and ends.
    QVERIFY(sim.Finish(kTransferTimeoutMs) >= 0);
  }

  void commandLineExitStatus_data() {
    QTest::addColumn<QStringList>("simArguments");
    QTest::addColumn<int>("exitStatus");
    const QString list = test::ExamplesDir() + QStringLiteral("/sample.fdu");
    QTest::newRow("completed")
        << QStringList{"download", "--mode", "channels", "--expect", list} << 0;
    QTest::newRow("block request past the data")
        << QStringList{"download", "--mode", "channels", "--past-end"} << 1;
  }
  void commandLineExitStatus() {
    QFETCH(QStringList, simArguments);
    QFETCH(int, exitStatus);
    Simulator sim(simArguments);
    QVERIFY2(sim.Started(), qPrintable(sim.Errors()));
    test::WriteSettings(QStringLiteral("[General]\nport=%1\nmode=0\n").arg(sim.PortName()));
    QProcess kestal;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    // The program paints its window, and Qt's painting threads are invisible to ThreadSanitizer
    // in an instrumented build; the window code itself is checked in this process.
    env.insert(QStringLiteral("TSAN_OPTIONS"), QStringLiteral("report_bugs=0"));
    kestal.setProcessEnvironment(env);
    kestal.start(test::BinDir() + QStringLiteral("/src/ui/kestal"),
                 {test::ExamplesDir() + QStringLiteral("/sample.fdu"), QStringLiteral("ignored")});
    QVERIFY(kestal.waitForFinished(kTransferTimeoutMs));
    QCOMPARE(kestal.exitStatus(), QProcess::NormalExit);
    QCOMPARE(kestal.exitCode(), exitStatus);
    QCOMPARE(sim.Finish(kTransferTimeoutMs), 0);
    // The path was saved under the stored mode (Software), the mode itself unchanged.
    QVERIFY(test::ReadSettings().contains(QStringLiteral("softfile=")));
    QVERIFY(test::ReadSettings().contains(QStringLiteral("mode=0")));
  }

 private:
  std::unique_ptr<test::TestHome> m_home;
};

QTEST_MAIN(UiTransfersTest)
#include "test_ui_transfers.moc"

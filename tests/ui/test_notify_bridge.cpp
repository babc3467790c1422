// The worker-to-window bridge: notifications run on the window thread, one at a time and in
// order, the worker waits for each; after Abort() nothing waits and nothing reaches the window.
#include <QThread>
#include <QtTest>
#include <atomic>
#include <thread>
#include <vector>

#include "ui/notify_bridge.h"

using namespace kestal;

namespace {

struct Recorder {
  std::vector<std::string> calls;  // window thread only
  std::vector<bool> onWindowThread;
  std::atomic<int> handled{0};
  QThread* window = QThread::currentThread();

  NotifyBridge::Handlers Handlers() {
    auto note = [this](const std::string& what) {
      calls.push_back(what);
      onWindowThread.push_back(QThread::currentThread() == window);
      handled.fetch_add(1);
    };
    return {[note](std::unique_ptr<StatusNote> n) { note(std::string("status:") + n->szText); },
            [note](int p) { note("progress:" + std::to_string(p)); },
            [note](int c) { note("done:" + std::to_string(c)); },
            [note](bool c) { note(std::string("exit:") + (c ? "1" : "0")); }};
  }
};

}  // namespace

class NotifyBridgeTest : public QObject {
  Q_OBJECT

 private slots:
  void notificationsAreSynchronousAndOrdered() {
    Recorder recorder;
    NotifyBridge bridge(recorder.Handlers());
    std::vector<int> seenAfterReturn;  // worker thread only
    std::atomic<bool> finished{false};
    std::thread worker([&] {
      bridge.NotifyStatus(MakeStatusNote(-1, "Downloading Processing..."));
      seenAfterReturn.push_back(recorder.handled.load());
      for (int p = 10; p <= 30; p += 10) {
        bridge.NotifyProgress(p);
        seenAfterReturn.push_back(recorder.handled.load());
      }
      bridge.NotifyDone(1);
      seenAfterReturn.push_back(recorder.handled.load());
      bridge.NotifyWorkerExit(true);
      finished = true;
    });
    QTRY_VERIFY(finished.load());
    worker.join();
    QTRY_COMPARE(recorder.handled.load(), 6);
    // Each call returned only after its own handler had run.
    QCOMPARE(seenAfterReturn, (std::vector<int>{1, 2, 3, 4, 5}));
    QCOMPARE(recorder.calls,
             (std::vector<std::string>{"status:Downloading Processing...", "progress:10", "progress:20",
                                       "progress:30", "done:1", "exit:1"}));
    for (bool onWindow : recorder.onWindowThread) QVERIFY(onWindow);
  }

  // Abort releases a waiting worker; later calls return at once, posts are dropped, and a
  // queued note that never runs is freed with the bridge (checked under the sanitizers).
  void abortReleasesAWaitingWorkerAndDropsEverything() {
    Recorder recorder;
    auto bridge = std::make_unique<NotifyBridge>(recorder.Handlers());
    std::thread worker([&] {
      bridge->NotifyStatus(MakeStatusNote(3, "Error : Reading fail."));
      bridge->NotifyProgress(50);
      bridge->NotifyDone(0);
      bridge->NotifyWorkerExit(false);
    });
    // The window thread does not serve events here: without Abort() the worker would wait forever.
    bridge->Abort();
    worker.join();
    QVERIFY(bridge->Aborted());
    std::thread late([&] {
      for (int i = 0; i < 100; ++i) bridge->NotifyProgress(i);
    });
    late.join();
    bool posted = false;
    bridge->Post([&] { posted = true; });
    QCoreApplication::processEvents();
    QVERIFY(!posted);
    bridge.reset();
    QCoreApplication::processEvents();
    QCOMPARE(recorder.handled.load(), 0);
  }

  void postRunsLaterOnTheWindowThread() {
    Recorder recorder;
    NotifyBridge bridge(recorder.Handlers());
    std::atomic<bool> ran{false};
    QThread* where = nullptr;
    std::thread reader([&] {
      bridge.Post([&] {
        where = QThread::currentThread();
        ran = true;
      });
    });
    reader.join();
    QVERIFY(!ran.load());  // not before the window thread serves its events
    QTRY_VERIFY(ran.load());
    QCOMPARE(where, QThread::currentThread());
  }

};

QTEST_GUILESS_MAIN(NotifyBridgeTest)
#include "test_notify_bridge.moc"

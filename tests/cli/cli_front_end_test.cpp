// The exit status is what the worker did: a stop that arrives once the data is where it belongs
// (the receiver's finish, the target replaced) cannot turn the transfer into a failure, and a
// stop before that never counts as a success. The worker is scripted so the stop comes exactly
// there; the terminal is a file that takes the bar.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <thread>

#include "cli/cli_front_end.h"
#include "support/fake_link.h"
#include "support/scratch_dir.h"

namespace kestal::cli {
namespace {

struct Ending {
  int exitStatus = -1;
  std::string terminal;  // what the tool printed on its (pretend) terminal
};

std::string ReadAll(std::FILE* file) {
  std::rewind(file);
  std::string text;
  for (int c; (c = std::fgetc(file)) != EOF;) text += static_cast<char>(c);
  std::fclose(file);
  return text;
}

// A send whose worker has moved 500 bytes when the user's stop arrives; the worker then
// returns `outcome`.
Ending StopAfterDelivery(WorkerOutcome outcome) {
  testing::ScratchDir dir;
  testing::WriteBytes(dir.File("data.ird"), testing::TestBytes(1000, 1));
  TransferOptions options;
  options.file = dir.File("data.ird");
  PortInfo port;
  port.devicePath = "fake";
  std::FILE* terminal = std::tmpfile();
  Ending run;
  {
    EventLoop loop;
    ConsoleOutput console(terminal, true);
    ConsoleOutput json(stdout, false);
    CliFrontEnd front(loop, options, port, console, json);
    testing::FakeLink link;
    std::atomic<bool> delivered{false};
    const auto worker = [&](WorkerContext& context) {
      context.state.watchdog.store(0);  // the receiver asked
      context.notify.NotifyProgress({50, 500, 1000});
      delivered = true;
      while (context.state.running.load()) std::this_thread::yield();
      return outcome;
    };
    TransferController controller(link, front, loop.Calls());
    controller.SetWorkers(worker, worker);
    front.Attach(controller);
    std::thread user([&] {
      while (!delivered) std::this_thread::yield();
      loop.Post([&front] { front.OnSignal(); });
    });
    loop.Post([&front] { front.Start(); });
    loop.Run();
    user.join();
    loop.Shutdown();
    run.exitStatus = ExitCodeFor(front.GetOutcome());
  }  // the console has written everything once it is gone
  run.terminal = ReadAll(terminal);
  return run;
}

TEST(CliFrontEnd, AStopAfterTheDataWasDeliveredKeepsTheSuccess) {
  const Ending run = StopAfterDelivery(WorkerOutcome::Completed);
  EXPECT_EQ(run.exitStatus, 0);
  // Said once the stop was, and then the summary of what moved.
  EXPECT_LT(run.terminal.find("Interrupted by user!"), run.terminal.find("Transfer complete !"));
  EXPECT_NE(run.terminal.find("500 bytes in "), std::string::npos) << run.terminal;
}

TEST(CliFrontEnd, AStopBeforeTheEndIsNeverASuccess) {
  for (const WorkerOutcome outcome : {WorkerOutcome::Stopped, WorkerOutcome::Failed}) {
    const Ending run = StopAfterDelivery(outcome);
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_EQ(run.terminal.find("Transfer complete !"), std::string::npos) << run.terminal;
  }
}

}  // namespace
}  // namespace kestal::cli

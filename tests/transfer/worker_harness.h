#pragma once
// Runs a transfer worker on the test's own thread against a ScriptedLink: a front end that
// records every notification (and ends the transfer on NotifyDone, as the controller does) and
// scratch files.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "image/scratch_files.h"
#include "support/fake_link.h"
#include "transfer/transfer_job.h"

namespace kestal::testing {

struct Notice {
  enum Kind { kStatus, kProgress, kDone, kExit } kind;
  int value = 0;  // display time, percent or completed
  std::string text;
};

class RecordingNotify : public TransferNotify {
 public:
  RecordingNotify(TransferJob& job, Link& link) : m_job(job), m_link(link) {}

  void NotifyStatus(std::unique_ptr<StatusNote> note) override;
  void NotifyProgress(int percent) override;
  // Ends the transfer like the controller's FinishTransfer: flags cleared, link closed.
  void NotifyDone(int completed) override;
  void NotifyWorkerExit(bool completed) override;

  std::vector<std::string> StatusTexts() const;
  std::vector<int> ProgressValues() const { return Values(Notice::kProgress); }
  std::vector<int> DoneValues() const { return Values(Notice::kDone); }
  int CountStatus(const std::string& text) const;
  // Display time of the first note with this text, or -99 when there is none.
  int DisplayTimeOf(const std::string& text) const;

  std::vector<Notice> notices;
  std::function<void(int)> onProgress;  // lets a test act "between blocks"

 private:
  std::vector<int> Values(Notice::Kind kind) const;

  TransferJob& m_job;
  Link& m_link;
};

std::vector<uint8_t> Be16(uint16_t value);
std::vector<uint8_t> Be32(uint32_t value);
std::vector<uint8_t> BlockRequestPayload(uint16_t length, uint32_t offset);

// Fixture part shared by both workers' tests. A virtual hour without an end fails the test and
// stops the worker, so that a broken worker cannot hang the suite.
class WorkerTestBase : public ::testing::Test {
 protected:
  WorkerTestBase();

  // Called on every wait of the worker (the clock moved), after the hang guard.
  void OnWait(std::function<void(uint64_t)> action) { m_onWait = std::move(action); }
  // What a user's Stop (or the watchdog) does to the job as seen by the worker.
  void StopLikeUser();
  std::vector<SentFrame> FramesWithCommand(uint8_t command) const;

  ManualClock clock;
  ScriptedLink link{clock};
  TransferJob job;
  RecordingNotify notify{job, link};
  ScratchDir dir;

 private:
  std::function<void(uint64_t)> m_onWait;
  uint64_t m_startMs;
};

}  // namespace kestal::testing

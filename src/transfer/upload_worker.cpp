// Reads the receiver's channel list into the target file. After the receiver's CMD_REQUEST the
// computer leads: it asks for the size, then for blocks of at most 255 bytes by offset, and ends
// with CMD_FINISH. The file is staged beside the target and replaces it only when complete.
#include <algorithm>
#include <functional>
#include <optional>

#include "transfer/staged_file.h"
#include "transfer/status_texts.h"
#include "transfer/worker_io.h"
#include "transfer/workers.h"

namespace kestal {
namespace {

using worker::FrameBuffer;
using worker::Wait;

// The longest target path accepted, as the receiving side has always limited it.
constexpr size_t kMaxTargetPath = 1023;

// After a frame that is not the awaited answer (a late copy of an earlier one, a stray request)
// the answer may still be on its way: asking again at once would leave every later answer one
// request behind. It gets this long to arrive...
constexpr uint64_t kLateAnswerGraceMs = 300;
// ...within this much per block (and for the size query), so that a receiver that answered
// wrongly and waits to be asked again gets all its attempts well before the watchdog (4.8 s at
// the earliest) ends the exchange.
constexpr uint64_t kGraceBudgetMs = 2400;

enum class Answer { Received, Missed, HungUp };

// nullopt: the step succeeded. Otherwise the transfer ends here, showing the text if not empty.
using Failure = std::optional<std::string>;

std::string WritingError(uint32_t offset) {
  std::string message = text::kWritingError;
  message.replace(message.find("%d"), 2, std::to_string(offset));
  return message;
}

class UploadSession {
 public:
  explicit UploadSession(WorkerContext& context)
      : context_(context),
        state_(context.state),
        link_(context.link),
        path_(context.request.path) {}

  WorkerOutcome Run();

 private:
  Failure Exchange();
  Wait WaitForRequest();
  Failure QuerySize();
  Failure FetchBlocks();
  Failure FetchBlock(uint16_t length);
  Answer AwaitAnswer(const std::function<bool()>& isAnswer, uint64_t& graceLeftMs,
                     const std::function<void()>& onOther = {});
  bool IsBlockAnswer(uint16_t length) const;
  WorkerOutcome Fail(const std::string& message);
  WorkerOutcome Complete();
  void Accept(uint8_t sequence);
  void Progress(int percent);
  void ReportProgress();
  bool Running() const { return state_.running.load(); }

  WorkerContext& context_;
  TransferState& state_;
  Link& link_;
  const std::string path_;
  uint8_t sequence_ = 255;    // the sequence number last used
  uint32_t size_ = 0;         // of the receiver's data set; 0 until it answered
  uint32_t offset_ = 0;       // bytes received and written so far
  bool progressDue_ = false;  // offset_ has moved since the last progress report
  StagedFile file_;
  FrameBuffer tx_;
  FrameBuffer rx_;
};

WorkerOutcome UploadSession::Run() {
  const Failure failure = Exchange();
  return failure ? Fail(*failure) : Complete();
}

Failure UploadSession::Exchange() {
  link_.SendBytes(WakeUpBurst, sizeof WakeUpBurst);
  // A stop while waiting goes on regardless: the size query then finds the transfer stopped
  // and it ends as a communication error, as it always has.
  if (WaitForRequest() == Wait::HungUp) return text::kPortDisconnected;
  state_.watchdog.store(0);
  if (path_.size() > kMaxTargetPath || !file_.Open(path_)) return text::kFileOpenError;
  context_.notify.NotifyStatus(kUntilReplaced, text::kUploading);
  if (Failure failure = QuerySize()) return failure;
  if (size_ == 0) return text::kCommunicationError;
  if (Failure failure = FetchBlocks()) return failure;
  // Only a complete data set, safely on disk, replaces the target.
  if (!file_.Commit()) return WritingError(offset_);
  return std::nullopt;
}

Wait UploadSession::WaitForRequest() {
  for (;;) {
    const Wait wait = worker::WaitForFrame(context_, rx_);
    if (wait != Wait::Frame) return wait;
    if (rx_.Command() == CMD_REQUEST) {
      Accept(rx_.Sequence());
      return wait;
    }
  }
}

void UploadSession::Accept(uint8_t sequence) {
  worker::SendEmptyFrame(link_, tx_, sequence, CMD_ACCEPT_UPLOAD);
  sequence_ = sequence;
}

Failure UploadSession::QuerySize() {
  uint64_t graceLeftMs = kGraceBudgetMs;
  while (Running()) {
    ++sequence_;
    tx_.SetHeader(sequence_, CMD_SIZE_QUERY, 2);
    PutBE16(tx_.Payload(), DATA_TYPE_CHANNELS);
    SendFrame(link_, tx_.Data());
    // A reply too short to hold a size is no reply; a stale sequence is an old answer.
    const auto isSize = [this] {
      return rx_.Sequence() == sequence_ && rx_.Command() == CMD_SIZE_REPLY && rx_.Length() >= 4;
    };
    // The receiver was reset and asks again: accept it, and ask once more.
    const auto onOther = [this] {
      if (rx_.Command() == CMD_REQUEST) Accept(rx_.Sequence());
    };
    const Answer answer = AwaitAnswer(isSize, graceLeftMs, onOther);
    if (answer == Answer::HungUp) return text::kPortDisconnected;
    if (answer == Answer::Received) {
      size_ = GetBE32(rx_.Payload());
      return std::nullopt;
    }
    state_.watchdog.store(0);
    if (!Running()) return text::kCommunicationError;
  }
  return std::nullopt;  // stopped before asking: the size stays 0
}

Failure UploadSession::FetchBlocks() {
  while (offset_ < size_ && Running()) {
    state_.watchdog.store(0);
    const auto length =
        static_cast<uint16_t>(std::min<uint32_t>(size_ - offset_, UPLOAD_BLOCK_MAX));
    if (Failure failure = FetchBlock(length)) return failure;
    if (!file_.Write(rx_.Payload(), length)) return WritingError(offset_);
    offset_ += length;
    progressDue_ = true;  // reported once the next request is out
  }
  // Stopped between blocks: the data set is incomplete, so nothing replaces the target.
  if (offset_ < size_) return std::string();
  return std::nullopt;
}

Failure UploadSession::FetchBlock(uint16_t length) {
  uint64_t graceLeftMs = kGraceBudgetMs;
  for (int attemptsLeft = UPLOAD_ATTEMPTS;; --attemptsLeft) {
    if (attemptsLeft == 0) return text::kCommunicationError;
    if (!Running()) return std::string();
    ++sequence_;
    tx_.SetHeader(sequence_, CMD_BLOCK_REQUEST, 6);
    PutBE16(tx_.Payload(), length);
    PutBE32(tx_.Payload() + 2, offset_);
    SendFrame(link_, tx_.Data());
    ReportProgress();
    const Answer answer =
        AwaitAnswer([this, length] { return IsBlockAnswer(length); }, graceLeftMs);
    if (answer == Answer::HungUp) return text::kPortDisconnected;
    if (answer == Answer::Received) return std::nullopt;
  }
}

// Waits for the answer `isAnswer` accepts to the request just sent: without a limit until some
// other frame arrives (`onOther` sees it), then for a grace time taken from the budget.
Answer UploadSession::AwaitAnswer(const std::function<bool()>& isAnswer, uint64_t& graceLeftMs,
                                  const std::function<void()>& onOther) {
  uint64_t deadline = worker::kNoDeadline;
  for (;;) {
    const Wait wait = worker::WaitForFrame(context_, rx_, deadline);
    if (wait == Wait::HungUp) return Answer::HungUp;
    if (wait != Wait::Frame) return Answer::Missed;
    if (isAnswer()) return Answer::Received;
    if (onOther) onOther();
    if (deadline == worker::kNoDeadline) {
      const uint64_t grace = std::min(kLateAnswerGraceMs, graceLeftMs);
      graceLeftMs -= grace;
      deadline = link_.GetClock().NowMs() + grace;
    }
  }
}

// Only the answer to this very request, whole, is written.
bool UploadSession::IsBlockAnswer(uint16_t length) const {
  return rx_.Sequence() == sequence_ && rx_.Command() == CMD_BLOCK_DATA && rx_.Length() == length;
}

void UploadSession::Progress(int percent) {
  context_.notify.NotifyProgress({percent, offset_, size_});
}

// The receiver waits for the next request and the front end does not, so a block's progress
// follows that request (as a download's follows its block) rather than holding it up.
void UploadSession::ReportProgress() {
  if (!progressDue_) return;
  progressDue_ = false;
  Progress(static_cast<int>(std::min<uint64_t>(100, uint64_t{offset_} * 100 / size_)));
}

// Every failed end: its text if any, then the end; nothing is sent to the receiver, and the
// temporary file goes, leaving the target as it was.
WorkerOutcome UploadSession::Fail(const std::string& message) {
  const WorkerOutcome outcome = Running() ? WorkerOutcome::Failed : WorkerOutcome::Stopped;
  ReportProgress();
  file_.Discard();
  if (!message.empty()) context_.notify.NotifyStatus(3, message);
  context_.notify.NotifyDone(false);
  return outcome;
}

WorkerOutcome UploadSession::Complete() {
  ReportProgress();
  // After a stop the link is closed already; there is no one to tell.
  if (Running()) {
    worker::SendEmptyFrame(link_, tx_, static_cast<uint8_t>(sequence_ + 1), CMD_FINISH);
  }
  context_.notify.NotifyStatus(kUntilReplaced, text::kComplete);
  Progress(100);
  context_.notify.NotifyDone(true);
  return WorkerOutcome::Completed;
}

}  // namespace

WorkerOutcome UploadWorker(WorkerContext& context) {
  UploadSession session(context);
  return session.Run();
}

}  // namespace kestal

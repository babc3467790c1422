// Reads the receiver's channel list into the target file. After the receiver's CMD_REQUEST the
// computer leads: it asks for the size, then for blocks of at most 255 bytes by offset, and ends
// with CMD_FINISH. The file is staged beside the target and replaces it only when complete.
#include <algorithm>
#include <bitset>
#include <functional>
#include <optional>
#include <span>

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

// The largest data set received: the limit sends have, so that sizes and offsets stay in range
// everywhere a size is shown or stored.
constexpr uint32_t kMaxDataSetSize = 0x7FFFFFFF;

// How long an answer may take before the request goes again. The window starts at twice the
// last measured round trip, within these bounds, and grows by half of that with each request
// of the same block: a receiver slower than the window is still heard, since an answer to any
// request of the block counts.
constexpr uint64_t kMinReplyWindowMs = 300;
constexpr uint64_t kMaxReplyWindowMs = 1000;
constexpr uint64_t kLongestReplyWindowMs = 2000;

// How a question to the receiver ended.
enum class Answer { Received, GaveUp, Stopped, HungUp };

// Why the transfer ends early: the status text (none after a plain stop) and a reason under it.
struct Ending {
  std::string text = {};
  std::string detail = {};
};
// nullopt: the step succeeded.
using Failure = std::optional<Ending>;

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
  using AnswerCheck = std::function<bool()>;

  Failure Exchange();
  Wait WaitForRequest();
  Failure QuerySize();
  Failure FetchBlocks();
  Failure FetchBlock(uint16_t length);
  Answer Ask(uint8_t command, std::span<const uint8_t> payload, const AnswerCheck& fits, int limit);
  Answer AwaitAnswer(const AnswerCheck& fits, uint64_t deadlineMs);
  uint64_t ReplyWindowMs(int retry) const;
  WorkerOutcome Fail(const Ending& ending);
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
  std::bitset<256> asked_;    // the sequence numbers of the question now being asked
  uint64_t roundTripMs_ = 0;  // of the last question answered at its first request
  bool sizePhase_ = false;    // a CMD_REQUEST is answered again (the receiver restarted)
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
  if (WaitForRequest() == Wait::HungUp) return Ending{text::kPortDisconnected};
  state_.watchdog.store(0);
  if (path_.size() > kMaxTargetPath || !file_.Open(path_)) return Ending{text::kFileOpenError};
  context_.notify.NotifyStatus(kUntilReplaced, text::kUploading);
  if (Failure failure = QuerySize()) return failure;
  if (size_ == 0) return Ending{text::kCommunicationError};
  if (size_ > kMaxDataSetSize) {
    return Ending{text::kFileSizeOver, "The receiver reports " + std::to_string(size_) +
                                           " bytes; more than 2 GB cannot be received."};
  }
  if (Failure failure = FetchBlocks()) return failure;
  // Only a complete data set, safely on disk, replaces the target.
  if (!file_.Commit()) return Ending{WritingError(offset_)};
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

// Asked until answered: a dead receiver is ended by the watchdog, which only a restart of the
// receiver (its CMD_REQUEST) feeds here.
Failure UploadSession::QuerySize() {
  uint8_t payload[2];
  PutBE16(payload, DATA_TYPE_CHANNELS);
  // A reply too short to hold a size is no reply.
  const auto fits = [this] { return rx_.Command() == CMD_SIZE_REPLY && rx_.Length() >= 4; };
  sizePhase_ = true;
  const Answer answer = Ask(CMD_SIZE_QUERY, payload, fits, 0);
  sizePhase_ = false;
  if (answer == Answer::HungUp) return Ending{text::kPortDisconnected};
  if (answer != Answer::Received) return Ending{text::kCommunicationError};
  size_ = GetBE32(rx_.Payload());
  return std::nullopt;
}

Failure UploadSession::FetchBlocks() {
  while (offset_ < size_ && Running()) {
    state_.watchdog.store(0);
    const auto length =
        static_cast<uint16_t>(std::min<uint32_t>(size_ - offset_, UPLOAD_BLOCK_MAX));
    if (Failure failure = FetchBlock(length)) return failure;
    if (!file_.Write(rx_.Payload(), length)) return Ending{WritingError(offset_)};
    offset_ += length;
    progressDue_ = true;  // reported once the next request is out
  }
  // Stopped between blocks: the data set is incomplete, so nothing replaces the target.
  if (offset_ < size_) return Ending{};
  return std::nullopt;
}

Failure UploadSession::FetchBlock(uint16_t length) {
  uint8_t payload[6];
  PutBE16(payload, length);
  PutBE32(payload + 2, offset_);
  // Only the bytes asked for, whole, are written.
  const auto fits = [this, length] {
    return rx_.Command() == CMD_BLOCK_DATA && rx_.Length() == length;
  };
  switch (Ask(CMD_BLOCK_REQUEST, payload, fits, UPLOAD_ATTEMPTS)) {
    case Answer::Received:
      return std::nullopt;
    case Answer::GaveUp:
      return Ending{text::kCommunicationError};
    case Answer::HungUp:
      return Ending{text::kPortDisconnected};
    case Answer::Stopped:
      break;
  }
  return Ending{};
}

// Sends the question until an answer that `fits` comes back to any of its requests (all of them
// ask for the same thing), at most `limit` times (0: no limit). Each request carries the next
// sequence number. A damaged frame, or this very request answered wrongly, is asked again at
// once; silence when the reply window has passed. Asking again does not feed the watchdog.
Answer UploadSession::Ask(uint8_t command, std::span<const uint8_t> payload,
                          const AnswerCheck& fits, int limit) {
  asked_.reset();
  for (int sent = 0; limit == 0 || sent < limit; ++sent) {
    if (!Running()) return Answer::Stopped;
    ++sequence_;
    asked_.set(sequence_);
    tx_.SetHeader(sequence_, command, static_cast<uint16_t>(payload.size()));
    std::copy(payload.begin(), payload.end(), tx_.Payload());
    SendFrame(link_, tx_.Data());
    ReportProgress();
    const uint64_t sentAt = link_.GetClock().NowMs();
    const Answer answer = AwaitAnswer(fits, sentAt + ReplyWindowMs(sent));
    // Only an answer to a single request tells how long the receiver takes.
    if (answer == Answer::Received && sent == 0) roundTripMs_ = link_.GetClock().NowMs() - sentAt;
    if (answer != Answer::GaveUp) return answer;
  }
  return Answer::GaveUp;
}

// Waits for the answer until `deadlineMs`. GaveUp: ask again. Frames that answer nothing of this
// question (a late copy of an earlier block's answer, a stray request) are passed over.
Answer UploadSession::AwaitAnswer(const AnswerCheck& fits, uint64_t deadlineMs) {
  for (;;) {
    switch (worker::WaitForFrame(context_, rx_, deadlineMs, true)) {
      case Wait::Stopped:
        return Answer::Stopped;
      case Wait::HungUp:
        return Answer::HungUp;
      case Wait::Damaged:
      case Wait::TimedOut:
        return Answer::GaveUp;
      case Wait::Frame:
        break;
    }
    if (asked_[rx_.Sequence()] && fits()) return Answer::Received;
    // Reset while asked for its size: accept it again, then ask again.
    if (sizePhase_ && rx_.Command() == CMD_REQUEST) {
      state_.watchdog.store(0);
      Accept(rx_.Sequence());
      return Answer::GaveUp;
    }
    if (rx_.Sequence() == sequence_) return Answer::GaveUp;
  }
}

uint64_t UploadSession::ReplyWindowMs(int retry) const {
  const uint64_t base = std::clamp(2 * roundTripMs_, kMinReplyWindowMs, kMaxReplyWindowMs);
  return std::min(base + static_cast<uint64_t>(retry) * base / 2, kLongestReplyWindowMs);
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
WorkerOutcome UploadSession::Fail(const Ending& ending) {
  const WorkerOutcome outcome = Running() ? WorkerOutcome::Failed : WorkerOutcome::Stopped;
  ReportProgress();
  file_.Discard();
  if (!ending.text.empty()) context_.notify.NotifyStatus(3, ending.text, ending.detail);
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

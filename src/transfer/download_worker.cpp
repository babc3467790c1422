// Sends the selected file to the receiver. The receiver leads: after the wake-up burst it sends
// CMD_REQUEST, asks for the data block by block (length and offset) and ends with CMD_FINISH.
// Software mode serves the file itself, Channels mode a ChannelImage packed from it.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>

#include "image/file_maker.h"
#include "transfer/file_access.h"
#include "transfer/status_texts.h"
#include "transfer/worker_io.h"
#include "transfer/workers.h"

namespace kestal {
namespace {

using worker::FrameBuffer;
using worker::Wait;

class DownloadSession {
 public:
  explicit DownloadSession(WorkerContext& context)
      : context_(context),
        state_(context.state),
        link_(context.link),
        path_(context.request.path),
        mode_(context.request.mode) {}
  ~DownloadSession() {
    if (fd_ >= 0) ::close(fd_);
  }
  DownloadSession(const DownloadSession&) = delete;
  DownloadSession& operator=(const DownloadSession&) = delete;

  WorkerOutcome Run();

 private:
  // Each step returns nullptr to go on, or the error text that ends the download.
  const char* Serve();
  const char* HandleFrame();
  const char* OnRequest();
  const char* OnBlockRequest();
  const char* OnFinish();
  bool SourceChanged() const;
  const char* PackImage(uint32_t requestValue);
  bool OpenFile();
  bool CopyBlock(uint32_t offset, uint16_t length);
  uint64_t ServedSize() const;
  void Progress(int percent, uint64_t bytesDone);
  void Release();

  WorkerContext& context_;
  TransferState& state_;
  Link& link_;
  const std::string path_;
  const int mode_;
  int fd_ = -1;
  std::vector<uint8_t> image_;  // Channels mode, rebuilt on every accepted request
  bool accepted_ = false;
  bool requested_ = false;  // a request was accepted at some point
  struct stat opened_ {};   // the source as opened: a change by the end spoils what was sent
  bool finished_ = false;   // the receiver said CMD_FINISH
  uint64_t bytesServed_ = 0;
  FrameBuffer tx_;
  FrameBuffer rx_;
};

WorkerOutcome DownloadSession::Run() {
  const char* error = Serve();
  WorkerOutcome outcome = WorkerOutcome::Stopped;
  if (error != nullptr) {
    if (state_.running.load()) outcome = WorkerOutcome::Failed;
    context_.notify.NotifyStatus(3, error);
    context_.notify.NotifyDone(false);
  } else {
    // A stop, a watchdog trip or a lost port is never reported as a success.
    if (finished_ && !state_.watchdogTripped.load()) outcome = WorkerOutcome::Completed;
    if (outcome == WorkerOutcome::Completed)
      context_.notify.NotifyStatus(kUntilReplaced, text::kComplete);
    Progress(0, 0);
  }
  Release();
  return outcome;
}

const char* DownloadSession::Serve() {
  if (!OpenFile()) return text::kFileOpenError;
  link_.SendBytes(WakeUpBurst, sizeof WakeUpBurst);
  for (;;) {
    switch (worker::WaitForFrame(context_, rx_)) {
      case Wait::Stopped:
      case Wait::TimedOut:  // never: no deadline here
        return nullptr;
      case Wait::HungUp:
        return text::kPortDisconnected;
      case Wait::Frame:
        break;
    }
    if (const char* error = HandleFrame()) return error;
  }
}

const char* DownloadSession::HandleFrame() {
  switch (rx_.Command()) {
    case CMD_REQUEST:
      return OnRequest();
    case CMD_BLOCK_REQUEST:
      return OnBlockRequest();
    case CMD_FINISH:
      return OnFinish();
    default:
      // The receiver is out of step: serve nothing more until it asks again.
      accepted_ = false;
      return nullptr;
  }
}

const char* DownloadSession::OnRequest() {
  // Armed before the front end hears of it, so what it shows next knows the receiver asked.
  state_.watchdog.store(0);
  context_.notify.NotifyStatus(kUntilReplaced, text::kDownloading);
  accepted_ = true;
  requested_ = true;
  // The answer goes out before the image is built; the receiver's next frames wait in the queue.
  worker::SendEmptyFrame(link_, tx_, rx_.Sequence(), CMD_ACCEPT_DOWNLOAD);
  if (mode_ != MODE_CHANNELS) return nullptr;
  if (state_.fileSize.load() <= 0) return text::kFileOpenError;
  // A short request carries a short value; missing bytes count as zero, never as stale ones.
  uint8_t value[4] = {};
  std::memcpy(value, rx_.Payload(), std::min<size_t>(rx_.Length(), sizeof value));
  return PackImage(GetBE32(value));
}

const char* DownloadSession::PackImage(uint32_t requestValue) {
  std::vector<uint8_t>().swap(image_);  // free the earlier image before building the next
  uint32_t size = 0;
  try {
    size = PackChannelImage(requestValue, path_, image_, context_.packTrace);
  } catch (const std::bad_alloc&) {
    std::vector<uint8_t>().swap(image_);
    return text::kFileSizeOver;
  }
  if (size == 0 || size > image_.size()) return text::kPackagingError;
  if (size > static_cast<uint32_t>(INT_MAX)) return text::kFileSizeOver;
  image_.resize(size);
  state_.fileSize.store(size);
  return nullptr;
}

const char* DownloadSession::OnBlockRequest() {
  state_.watchdog.store(0);
  context_.notify.NotifyStatus(kUntilReplaced, text::kDownloading);
  if (!accepted_) return nullptr;
  if (rx_.Length() < 6) return nullptr;  // no length and offset in it: nothing to answer
  const uint16_t length = GetBE16(rx_.Payload());
  const uint32_t offset = GetBE32(rx_.Payload() + 2);
  const uint64_t size = ServedSize();
  // In 64 bits: an offset near 2^32 plus a length must not wrap into the file.
  if (uint64_t{offset} + length > size) return text::kOutOfRange;
  tx_.SetHeader(rx_.Sequence(), CMD_BLOCK_DATA, length);
  if (!CopyBlock(offset, length)) return text::kReadingFail;
  SendFrame(link_, tx_.Data());
  bytesServed_ = std::max(bytesServed_, uint64_t{offset} + length);
  Progress(size == 0 ? 0 : static_cast<int>(uint64_t{offset} * 100 / size), bytesServed_);
  return nullptr;
}

const char* DownloadSession::OnFinish() {
  // Nothing was asked for: the receiver has nothing, whatever its finish says.
  if (!requested_) return text::kFinishedUnasked;
  if (SourceChanged()) return text::kReadingFail;
  Progress(100, ServedSize());
  finished_ = true;
  // The front end ends the transfer while handling this, so the loop stops at its next test.
  context_.notify.NotifyDone(true);
  return nullptr;
}

// A Software source rewritten while it was served leaves the receiver with a mix of old and new
// bytes. Channels mode sends an image packed at the request, which is consistent on its own.
bool DownloadSession::SourceChanged() const {
  if (mode_ == MODE_CHANNELS) return false;
  struct stat now {};
  if (::fstat(fd_, &now) != 0) return true;
  return !SameFileVersion(opened_, now);
}

void DownloadSession::Progress(int percent, uint64_t bytesDone) {
  context_.notify.NotifyProgress({percent, bytesDone, ServedSize()});
}

bool DownloadSession::OpenFile() {
  // Non-blocking, so that a FIFO given as the file cannot hang the worker in open().
  fd_ = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd_ < 0) return false;
  return ::fstat(fd_, &opened_) == 0 && S_ISREG(opened_.st_mode);
}

// The bytes of the data from `offset`: from the image in Channels mode, else one read of the file.
bool DownloadSession::CopyBlock(uint32_t offset, uint16_t length) {
  if (mode_ == MODE_CHANNELS) {
    if (uint64_t{offset} + length > image_.size()) return false;
    std::memcpy(tx_.Payload(), image_.data() + offset, length);
    return true;
  }
  // A file cut short since it was measured gives fewer bytes: never serve stale ones.
  return ReadAt(fd_, tx_.Payload(), length, offset) == length;
}

// The size being served: the measured file, or in Channels mode the image built from it.
uint64_t DownloadSession::ServedSize() const {
  const int64_t size = state_.fileSize.load();
  const uint64_t served = size > 0 ? static_cast<uint64_t>(size) : 0;
  return mode_ == MODE_CHANNELS ? std::min<uint64_t>(served, image_.size()) : served;
}

void DownloadSession::Release() {
  std::vector<uint8_t>().swap(image_);
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  // The next start measures the file again.
  state_.fileSize.store(0);
}

}  // namespace

WorkerOutcome DownloadWorker(WorkerContext& context) {
  DownloadSession session(context);
  return session.Run();
}

}  // namespace kestal

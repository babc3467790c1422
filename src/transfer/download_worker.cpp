// Sends the selected file to the receiver. The receiver leads: after the wake-up burst it sends
// CMD_REQUEST, asks for the data block by block (length and offset) and ends with CMD_FINISH.
// Software mode serves the file itself, Channels mode a ChannelImage packed from it before the
// receiver is woken; or either serves the data the request carries, taken from the file before.
#include <algorithm>
#include <climits>
#include <cstring>

#include "image/file_maker.h"
#include "transfer/file_access.h"
#include "transfer/file_pack_source.h"
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
        mode_(context.request.mode),
        served_(context.request.served) {}

  WorkerOutcome Run();

 private:
  // Each step returns nullptr to go on, or the error text that ends the download.
  const char* Serve();
  const char* Prepare();
  const char* HandleFrame();
  const char* OnRequest();
  const char* OnBlockRequest();
  const char* OnFinish();
  bool SourceChanged() const;
  const char* PackImage();
  const char* TakeHeader();
  const std::vector<uint8_t>& Image() const { return served_ ? *served_ : image_; }
  bool CopyBlock(uint32_t offset, uint16_t length);
  uint64_t ServedSize() const;
  void Progress(int percent, uint64_t bytesDone);
  void Release();
  bool Running() const { return state_.running.load(); }

  WorkerContext& context_;
  TransferState& state_;
  Link& link_;
  const std::string path_;
  const int mode_;
  const std::shared_ptr<const std::vector<uint8_t>> served_;  // null: the file is read here
  SourceFile file_;
  std::vector<uint8_t> image_;  // Channels mode, packed once before the wake-up
  // Channels mode: the image's header with this receiver's request value in it. The image
  // itself stays as packed, so other transfers can serve it at the same time.
  std::vector<uint8_t> header_;
  bool accepted_ = false;
  bool requested_ = false;  // a request was accepted at some point
  bool finished_ = false;   // the receiver said CMD_FINISH
  uint64_t bytesServed_ = 0;
  FrameBuffer tx_;
  FrameBuffer rx_;
};

WorkerOutcome DownloadSession::Run() {
  const char* error = Serve();
  WorkerOutcome outcome = WorkerOutcome::Stopped;
  if (error != nullptr) {
    if (Running()) outcome = WorkerOutcome::Failed;
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
  // Cleared on every way out, a throw included: a later transfer must not seem to be packing.
  struct ClearOnExit {
    std::atomic<bool>& flag;
    ~ClearOnExit() { flag.store(false); }
  } preparing{state_.preparing};
  if (const char* error = Prepare()) return error;
  if (!Running()) return nullptr;  // stopped while packing: nobody was woken
  link_.SendBytes(WakeUpBurst, sizeof WakeUpBurst);
  if (mode_ == MODE_CHANNELS) {
    // Only now is there a receiver to reset: the controller showed the packing meanwhile.
    context_.notify.NotifyStatus(kUntilReplaced, text::kWaiting);
    preparing.flag.store(false);
  }
  for (;;) {
    switch (worker::WaitForFrame(context_, rx_)) {
      case Wait::Stopped:
      case Wait::TimedOut:  // never: no deadline here
      case Wait::Damaged:   // never: not asked for
        return nullptr;
      case Wait::HungUp:
        return text::kPortDisconnected;
      case Wait::Frame:
        break;
    }
    if (const char* error = HandleFrame()) return error;
  }
}

// What is served: the data the request carries, or the file, opened (and packed) here.
const char* DownloadSession::Prepare() {
  if (!served_) {
    if (!file_.Open(path_)) return text::kFileOpenError;
    if (mode_ != MODE_CHANNELS) return nullptr;
    if (const char* error = PackImage()) return error;
  }
  return mode_ == MODE_CHANNELS && Running() ? TakeHeader() : nullptr;
}

const char* DownloadSession::TakeHeader() {
  if (Image().size() < IMAGE_HEADER_SIZE) return text::kPackagingError;
  header_.assign(Image().begin(), Image().begin() + IMAGE_HEADER_SIZE);
  return nullptr;
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
  if (mode_ == MODE_CHANNELS) {
    // A short request carries a short value; missing bytes count as zero, never as stale ones.
    uint8_t value[4] = {};
    std::memcpy(value, rx_.Payload(), std::min<size_t>(rx_.Length(), sizeof value));
    SetImageRequestValue(header_, GetBE32(value));
  }
  worker::SendEmptyFrame(link_, tx_, rx_.Sequence(), CMD_ACCEPT_DOWNLOAD);
  return nullptr;
}

// Packed before the receiver is woken, with the watchdog still disarmed: a large list takes a
// while, and a receiver that has asked must not wait for it. A stop is heard between chunks.
const char* DownloadSession::PackImage() {
  if (file_.Size() == 0) return text::kFileOpenError;
  int shown = -1;
  const PackStep step = [this, &shown](uint64_t packed, uint64_t total) {
    const auto percent = static_cast<int>(packed * 100 / total);
    if (percent != shown) context_.notify.NotifyProgress({percent, packed, total});
    shown = percent;
    return Running();
  };
  FilePackSource source(file_);
  const uint32_t size = PackChannelImage(0, source, image_, context_.packTrace, step);
  if (!Running()) return nullptr;
  if (size == 0) return text::kPackagingError;
  if (size > static_cast<uint32_t>(INT_MAX)) return text::kFileSizeOver;
  state_.fileSize.store(size);
  Progress(0, 0);
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
// bytes. Channels mode sends an image packed once, and data taken beforehand never changes.
bool DownloadSession::SourceChanged() const {
  return mode_ != MODE_CHANNELS && !served_ && !file_.Unchanged();
}

void DownloadSession::Progress(int percent, uint64_t bytesDone) {
  context_.notify.NotifyProgress({percent, bytesDone, ServedSize()});
}

// The bytes of the data from `offset`: from the image in Channels mode (with this receiver's
// header) or from the data taken beforehand, else one read of the file.
bool DownloadSession::CopyBlock(uint32_t offset, uint16_t length) {
  if (mode_ == MODE_CHANNELS || served_) {
    const std::vector<uint8_t>& data = Image();
    if (uint64_t{offset} + length > data.size()) return false;
    std::memcpy(tx_.Payload(), data.data() + offset, length);
    if (offset < header_.size()) {
      std::memcpy(tx_.Payload(), header_.data() + offset,
                  std::min<size_t>(length, header_.size() - offset));
    }
    return true;
  }
  // A file cut short since it was measured gives fewer bytes: never serve stale ones.
  return file_.ReadAt(tx_.Payload(), length, offset) == length;
}

// The size being served: the measured file, or in Channels mode the image built from it.
uint64_t DownloadSession::ServedSize() const {
  const int64_t size = state_.fileSize.load();
  const uint64_t served = size > 0 ? static_cast<uint64_t>(size) : 0;
  return mode_ == MODE_CHANNELS ? std::min<uint64_t>(served, Image().size()) : served;
}

void DownloadSession::Release() {
  std::vector<uint8_t>().swap(image_);
  // The next start measures the file again.
  state_.fileSize.store(0);
}

}  // namespace

WorkerOutcome DownloadWorker(WorkerContext& context) {
  DownloadSession session(context);
  return session.Run();
}

}  // namespace kestal

// Sends the selected file to the receiver. The receiver leads: after the wake-up burst it sends
// CMD_REQUEST, asks for the data block by block (length and offset) and ends with CMD_FINISH.
// Software mode serves the file itself, Channels mode a ChannelImage packed from it.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <new>

#include "image/file_maker.h"
#include "transfer/worker_io.h"
#include "transfer/workers.h"

namespace kestal {
namespace {

using worker::FrameBuffer;
using worker::Wait;

class DownloadSession {
 public:
  explicit DownloadSession(TransferJob& job)
      : m_job(job), m_link(*job.m_pLink), m_path(job.m_strFilePath),
        m_packTrace(job.m_packTrace), m_mode(job.m_nMode.load()) {}
  ~DownloadSession() {
    if (m_fd >= 0) ::close(m_fd);
  }
  DownloadSession(const DownloadSession&) = delete;
  DownloadSession& operator=(const DownloadSession&) = delete;

  int Run();

 private:
  // Each step returns nullptr to go on, or the error text that ends the download.
  const char* Serve();
  const char* HandleFrame();
  const char* OnRequest();
  const char* OnBlockRequest();
  void OnFinish();
  const char* PackImage(uint32_t requestValue);
  bool OpenFile();
  bool CopyBlock(uint32_t offset, uint16_t length);
  uint64_t ServedSize() const;
  void Release();

  TransferJob& m_job;
  Link& m_link;
  const std::string m_path;
  const PackTrace m_packTrace;
  const int m_mode;
  int m_fd = -1;
  std::vector<uint8_t> m_image;  // Channels mode, rebuilt on every accepted request
  bool m_accepted = false;
  bool m_finished = false;       // the receiver said CMD_FINISH
  FrameBuffer m_tx;
  FrameBuffer m_rx;
};

int DownloadSession::Run() {
  const char* error = Serve();
  bool completed = false;
  if (error != nullptr) {
    worker::SendStatus(m_job, 3, error);
    worker::SendDone(m_job, 0);
  } else {
    // A stop, a watchdog trip or a lost port is never reported as a success.
    completed = m_finished && m_job.m_bWatchdogTripped.load() == 0;
    if (completed) worker::SendStatus(m_job, -1, text::kComplete);
    worker::SendProgress(m_job, 0);
  }
  Release();
  return completed ? 1 : 0;
}

const char* DownloadSession::Serve() {
  if (!OpenFile()) return text::kFileOpenError;
  m_link.SendBytes(WakeUpBurst, sizeof WakeUpBurst);
  for (;;) {
    switch (worker::WaitForFrame(m_job, m_rx)) {
      case Wait::kStopped: return nullptr;
      case Wait::kHungUp: return text::kPortDisconnected;
      case Wait::kFrame: break;
    }
    if (const char* error = HandleFrame()) return error;
  }
}

const char* DownloadSession::HandleFrame() {
  switch (m_rx.Command()) {
    case CMD_REQUEST: return OnRequest();
    case CMD_BLOCK_REQUEST: return OnBlockRequest();
    case CMD_FINISH: OnFinish(); return nullptr;
    default:
      // The receiver is out of step: serve nothing more until it asks again.
      m_accepted = false;
      return nullptr;
  }
}

const char* DownloadSession::OnRequest() {
  worker::SendStatus(m_job, -1, text::kDownloading);
  m_job.m_nWatchdog.store(0);
  m_accepted = true;
  // The answer goes out before the image is built; the receiver's next frames wait in the queue.
  worker::SendEmptyFrame(m_link, m_tx, m_rx.Sequence(), CMD_ACCEPT_DOWNLOAD);
  if (m_mode != MODE_CHANNELS) return nullptr;
  if (m_job.m_nFileSize.load() <= 0) return text::kFileOpenError;
  // A short request carries a short value; missing bytes count as zero, never as stale ones.
  uint8_t value[4] = {};
  std::memcpy(value, m_rx.Payload(), std::min<size_t>(m_rx.Length(), sizeof value));
  return PackImage(GetBE32(value));
}

const char* DownloadSession::PackImage(uint32_t requestValue) {
  std::vector<uint8_t>().swap(m_image);  // free the earlier image before building the next
  uint32_t size = 0;
  try {
    size = PackChannelImage(requestValue, m_path, m_image, m_mode, m_packTrace);
  } catch (const std::bad_alloc&) {
    std::vector<uint8_t>().swap(m_image);
    return text::kFileSizeOver;
  }
  if (size == 0 || size > m_image.size()) return text::kPackagingError;
  if (size > static_cast<uint32_t>(INT_MAX)) return text::kFileSizeOver;
  m_image.resize(size);
  m_job.m_nFileSize.store(static_cast<int>(size));
  return nullptr;
}

const char* DownloadSession::OnBlockRequest() {
  worker::SendStatus(m_job, -1, text::kDownloading);
  m_job.m_nWatchdog.store(0);
  if (!m_accepted) return nullptr;
  if (m_rx.Length() < 6) return nullptr;  // no length and offset in it: nothing to answer
  const uint16_t length = GetBE16(m_rx.Payload());
  const uint32_t offset = GetBE32(m_rx.Payload() + 2);
  const uint64_t size = ServedSize();
  if (uint64_t{offset} + length > size) return text::kOutOfRange;
  m_tx.SetHeader(m_rx.Sequence(), CMD_BLOCK_DATA, length);
  if (!CopyBlock(offset, length)) return text::kReadingFail;
  SendFrame(m_link, m_tx.Data());
  worker::SendProgress(m_job, size == 0 ? 0 : static_cast<int>(uint64_t{offset} * 100 / size));
  return nullptr;
}

void DownloadSession::OnFinish() {
  worker::SendProgress(m_job, 100);
  m_finished = true;
  // The front end ends the transfer while handling this, so the loop stops at its next test.
  worker::SendDone(m_job, 1);
}

bool DownloadSession::OpenFile() {
  // Non-blocking, so that a FIFO given as the file cannot hang the worker in open().
  m_fd = ::open(m_path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (m_fd < 0) return false;
  struct stat info {};
  return ::fstat(m_fd, &info) == 0 && S_ISREG(info.st_mode);
}

// The bytes of the data from `offset`: from the image in Channels mode, else one read of the file.
bool DownloadSession::CopyBlock(uint32_t offset, uint16_t length) {
  if (m_mode == MODE_CHANNELS) {
    if (uint64_t{offset} + length > m_image.size()) return false;
    std::memcpy(m_tx.Payload(), m_image.data() + offset, length);
    return true;
  }
  const ssize_t got = ::pread(m_fd, m_tx.Payload(), length, static_cast<off_t>(offset));
  return got == static_cast<ssize_t>(length);
}

// The size being served: the measured file, or in Channels mode the image built from it.
uint64_t DownloadSession::ServedSize() const {
  const int size = m_job.m_nFileSize.load();
  const uint64_t served = size > 0 ? static_cast<uint64_t>(size) : 0;
  return m_mode == MODE_CHANNELS ? std::min<uint64_t>(served, m_image.size()) : served;
}

void DownloadSession::Release() {
  std::vector<uint8_t>().swap(m_image);
  if (m_fd >= 0) ::close(m_fd);
  m_fd = -1;
  // The next start measures the file again.
  m_job.m_nFileSize.store(0);
}

}  // namespace

int DownloadWorker(TransferJob& job) {
  DownloadSession session(job);
  return session.Run();
}

}  // namespace kestal

// Reads the receiver's channel list into the target file. After the receiver's CMD_REQUEST the
// computer leads: it asks for the size, then for blocks of at most 255 bytes by offset, and ends
// with CMD_FINISH. The file is staged beside the target and replaces it only when complete.
#include <algorithm>
#include <optional>

#include "transfer/staged_file.h"
#include "transfer/worker_io.h"
#include "transfer/workers.h"

namespace kestal {
namespace {

using worker::FrameBuffer;
using worker::Wait;

// The longest target path accepted, as the receiving side has always limited it.
constexpr size_t kMaxTargetPath = 1023;

// nullopt: the step succeeded. Otherwise the transfer ends here, showing the text if not empty.
using Failure = std::optional<std::string>;

std::string WritingError(uint32_t offset) {
  std::string message = text::kWritingError;
  message.replace(message.find("%d"), 2, std::to_string(offset));
  return message;
}

class UploadSession {
 public:
  explicit UploadSession(TransferJob& job)
      : m_job(job), m_link(*job.m_pLink), m_path(job.m_strFilePath) {}

  int Run();

 private:
  Failure Exchange();
  Wait WaitForRequest();
  Failure QuerySize();
  Failure FetchBlocks();
  Failure FetchBlock(uint16_t length);
  int Fail(const std::string& message);
  int Complete();
  void Accept(uint8_t sequence);
  bool Running() const { return m_job.m_bRunning.load() != 0; }

  TransferJob& m_job;
  Link& m_link;
  const std::string m_path;
  uint8_t m_sequence = 255;  // the sequence number last used
  uint32_t m_size = 0;       // of the receiver's data set; 0 until it answered
  uint32_t m_offset = 0;     // bytes received and written so far
  StagedFile m_file;
  FrameBuffer m_tx;
  FrameBuffer m_rx;
};

int UploadSession::Run() {
  const Failure failure = Exchange();
  return failure ? Fail(*failure) : Complete();
}

Failure UploadSession::Exchange() {
  m_link.SendBytes(WakeUpBurst, sizeof WakeUpBurst);
  if (WaitForRequest() == Wait::kHungUp) return text::kPortDisconnected;
  m_job.m_nWatchdog.store(0);
  if (m_path.size() > kMaxTargetPath || !m_file.Open(m_path)) return text::kFileOpenError;
  worker::SendStatus(m_job, -1, text::kUploading);
  if (Failure failure = QuerySize()) return failure;
  if (m_size == 0) return text::kCommunicationError;
  if (Failure failure = FetchBlocks()) return failure;
  // Only a complete data set, safely on disk, replaces the target.
  if (!m_file.Commit()) return WritingError(m_offset);
  return std::nullopt;
}

Wait UploadSession::WaitForRequest() {
  for (;;) {
    const Wait wait = worker::WaitForFrame(m_job, m_rx);
    if (wait != Wait::kFrame) return wait;
    if (m_rx.Command() == CMD_REQUEST) {
      Accept(m_rx.Sequence());
      return wait;
    }
  }
}

void UploadSession::Accept(uint8_t sequence) {
  worker::SendEmptyFrame(m_link, m_tx, sequence, CMD_ACCEPT_UPLOAD);
  m_sequence = sequence;
}

Failure UploadSession::QuerySize() {
  while (Running()) {
    ++m_sequence;
    m_tx.SetHeader(m_sequence, CMD_SIZE_QUERY, 2);
    PutBE16(m_tx.Payload(), DATA_TYPE_CHANNELS);
    SendFrame(m_link, m_tx.Data());
    const Wait wait = worker::WaitForFrame(m_job, m_rx);
    if (wait == Wait::kHungUp) return text::kPortDisconnected;
    if (wait == Wait::kFrame) {
      // A reply too short to hold a size is no reply.
      if (m_rx.Sequence() == m_sequence && m_rx.Command() == CMD_SIZE_REPLY && m_rx.Length() >= 4) {
        m_size = GetBE32(m_rx.Payload());
        return std::nullopt;
      }
      if (m_rx.Command() == CMD_REQUEST) Accept(m_rx.Sequence());
    }
    m_job.m_nWatchdog.store(0);
    if (!Running()) return text::kCommunicationError;
  }
  return std::nullopt;  // stopped before asking: the size stays 0
}

Failure UploadSession::FetchBlocks() {
  while (m_offset < m_size && Running()) {
    m_job.m_nWatchdog.store(0);
    const auto length = static_cast<uint16_t>(std::min<uint32_t>(m_size - m_offset, UPLOAD_BLOCK_MAX));
    if (Failure failure = FetchBlock(length)) return failure;
    if (!m_file.Write(m_rx.Payload(), length)) return WritingError(m_offset);
    m_offset += length;
    worker::SendProgress(m_job, static_cast<int>(std::min<uint64_t>(
                                    100, uint64_t{m_offset} * 100 / m_size)));
  }
  // Stopped between blocks: the data set is incomplete, so nothing replaces the target.
  if (m_offset < m_size) return std::string();
  return std::nullopt;
}

Failure UploadSession::FetchBlock(uint16_t length) {
  for (int attemptsLeft = UPLOAD_ATTEMPTS;; --attemptsLeft) {
    if (attemptsLeft == 0) return text::kCommunicationError;
    if (!Running()) return std::string();
    ++m_sequence;
    m_tx.SetHeader(m_sequence, CMD_BLOCK_REQUEST, 6);
    PutBE16(m_tx.Payload(), length);
    PutBE32(m_tx.Payload() + 2, m_offset);
    SendFrame(m_link, m_tx.Data());
    const Wait wait = worker::WaitForFrame(m_job, m_rx);
    if (wait == Wait::kHungUp) return text::kPortDisconnected;
    if (wait == Wait::kFrame && m_rx.Sequence() == m_sequence &&
        m_rx.Command() == CMD_BLOCK_DATA && m_rx.Length() == length) {
      return std::nullopt;
    }
  }
}

// Every failed end: its text if any, then the end; nothing is sent to the receiver, and the
// temporary file goes, leaving the target as it was.
int UploadSession::Fail(const std::string& message) {
  m_file.Discard();
  if (!message.empty()) worker::SendStatus(m_job, 3, message);
  worker::SendDone(m_job, 0);
  return 0;
}

int UploadSession::Complete() {
  // After a stop the link is closed already; there is no one to tell.
  if (Running()) worker::SendEmptyFrame(m_link, m_tx, static_cast<uint8_t>(m_sequence + 1), CMD_FINISH);
  worker::SendStatus(m_job, -1, text::kComplete);
  worker::SendProgress(m_job, 100);
  worker::SendDone(m_job, 1);
  return 1;
}

}  // namespace

int UploadWorker(TransferJob& job) {
  UploadSession session(job);
  return session.Run();
}

}  // namespace kestal

#pragma once
// SerialLink: one serial port opened exclusively, raw 8N1, with a reader thread
// (ThreadWatchComm) that moves received bytes into m_QueueRead.
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "link/link.h"

namespace kestal {

class SerialLink : public Link {
 public:
  // Receives the reader's notices ("m_QueueRead FULL!", "Error while creating ThreadWatchComm, ...").
  // Called on the reader thread (the second one on the opening thread); must not block.
  // Set it while the link is closed.
  using NoticeHandler = std::function<void(const std::string& text)>;

  explicit SerialLink(const Clock& clock = SystemClock());
  ~SerialLink() override;
  SerialLink(const SerialLink&) = delete;
  SerialLink& operator=(const SerialLink&) = delete;

  int OpenLink(const PortInfo& entry, uint32_t baud) override;
  void CloseLink() override;
  int SendBytes(const uint8_t* data, int count) override;
  // Reads what the driver holds, up to `max` bytes; 0 when nothing waits or the read failed.
  int FetchBytes(uint8_t* dest, int max);

  ReceiveQueue& Queue() override { return m_QueueRead; }
  void WaitForData(uint64_t deadlineMs) override;
  void WaitForBytes(uint64_t deadlineMs, size_t count) override;
  const Clock& GetClock() const override { return m_clock; }
  bool IsOpen() const override { return m_bLinkOpen.load(std::memory_order_acquire) != 0; }
  bool IsHungUp() const override { return m_bHungUp.load(std::memory_order_acquire) != 0; }

  void SetNoticeHandler(NoticeHandler handler) { m_onNotice = std::move(handler); }
  const std::string& FriendlyName() const { return m_strFriendlyName; }

  ReceiveQueue m_QueueRead;

 private:
  struct OpenPort;  // descriptor, wake-up descriptor; shared with in-flight writes
  void ThreadWatchComm(std::shared_ptr<OpenPort> port, uint32_t baud);
  // Reads until nothing is left, adding the bytes read to `count`; false when the device is gone.
  bool DrainPort(int fd, size_t& count);
  // Bytes the waiting frame reader still misses (0: nobody waits, or they are all there).
  size_t MissingBytes() const;
  void QueueChunk(const uint8_t* chunk, size_t size);
  void MarkHungUp();
  void JoinReader();
  static int WriteAll(const OpenPort& port, const uint8_t* data, size_t total);
  std::shared_ptr<OpenPort> CurrentPort() const;
  void SignalData();
  void Notice(const std::string& text) const;

  const Clock& m_clock;
  std::string m_strFriendlyName;
  std::atomic<int> m_bLinkOpen{0};
  std::atomic<int> m_bHungUp{0};
  std::thread m_hReaderThread;
  mutable std::mutex m_portMutex;  // guards the m_port pointer swap only, never an I/O call
  std::shared_ptr<OpenPort> m_port;
  std::mutex m_waitMutex;
  std::condition_variable m_dataArrived;
  // Bytes the waiting frame reader needs before it can go on (0: nobody waits). The reader
  // thread wakes it only once they are there: at 115200 baud bytes come in pieces of about a
  // dozen, and waking the worker for each costs more than the whole transfer otherwise does.
  // For the same reason the reader itself sleeps through most of a long frame that trickles in
  // at the line's pace (ArrivalPace).
  std::atomic<uint32_t> m_wantedBytes{0};
  NoticeHandler m_onNotice;
};

}  // namespace kestal

#pragma once
// SerialLink: one serial port opened exclusively, raw 8N1, with a reader thread that moves
// received bytes into the receive queue.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "link/link.h"

namespace kestal {

class SerialLink : public Link {
 public:
  // Receives the reader's notices ("m_QueueRead FULL!", at most once a second with the bytes
  // dropped so far; "Error while creating ThreadWatchComm, ..."). Called on the reader thread (the
  // second one on the opening thread); must not block. Set it while the link is closed.
  using NoticeHandler = std::function<void(const std::string& text)>;

  explicit SerialLink(const Clock& clock = SystemClock());
  ~SerialLink() override;
  SerialLink(const SerialLink&) = delete;
  SerialLink& operator=(const SerialLink&) = delete;

  OpenResult OpenLink(const std::string& devicePath, uint32_t baud) override;
  void CloseLink() override;
  SendResult SendBytes(const uint8_t* data, size_t count) override;

  ReceiveQueue& Queue() override { return queue_; }
  void WaitForBytes(uint64_t deadlineMs, size_t count) override;
  const Clock& GetClock() const override { return clock_; }
  bool IsOpen() const override { return open_.load(std::memory_order_acquire); }
  bool IsHungUp() const override { return hungUp_.load(std::memory_order_acquire); }

  void SetNoticeHandler(NoticeHandler handler) { onNotice_ = std::move(handler); }
  // Sees every byte written and received (null: none); set while the link is closed.
  void SetByteTap(ByteTap* tap) { tap_ = tap; }
#ifndef _WIN32
  // The next OpenLink of `devicePath` takes over `fd`, a port that posix::OpenExclusiveRawPort
  // opened already, instead of opening the device again (a receiver that asked is answered on
  // the very line it asked on), with `received`, the bytes already read from it, queued first.
  // Set while the link is closed; the link owns `fd` from here on.
  void AdoptOpenPort(const std::string& devicePath, int fd, std::vector<uint8_t> received);
#endif
  // The port's name in the notices; set while the link is closed.
  void SetFriendlyName(std::string friendlyName) { friendlyName_ = std::move(friendlyName); }

 private:
  // Bytes taken from the port at a time.
  static constexpr size_t kReadChunk = 2048;

  struct OpenPort;  // descriptor, wake-up descriptor; shared with in-flight writes
  // What every open does first: close, and forget the last open's hang-up and drops.
  void BeginOpen();
  // Publishes an opened port and starts its reader.
  OpenResult StartReader(std::shared_ptr<OpenPort> port);
  void ReadPort(std::shared_ptr<OpenPort> port);
  // Reads until nothing is left; false when the device is gone.
  bool DrainPort(int fd);                       // termios only
  void NapWhileArriving(const OpenPort& port);  // termios only
  void QueueChunk(const uint8_t* chunk, size_t size);
  void NoteDroppedChunk(size_t size);
  void MarkHungUp();
  void JoinReader();
  static SendResult WriteAll(const OpenPort& port, const uint8_t* data, size_t total);
  std::shared_ptr<OpenPort> CurrentPort() const;
  void SignalData();
  void Notice(const std::string& text) const;

  const Clock& clock_;
  std::string friendlyName_;
  ReceiveQueue queue_;
  std::atomic<bool> open_{false};
  std::atomic<bool> hungUp_{false};
  std::thread reader_;
  mutable std::mutex portMutex_;  // guards the port_ pointer swap only, never an I/O call
  std::shared_ptr<OpenPort> port_;
  // A port handed over by AdoptOpenPort, waiting for its OpenLink.
  std::shared_ptr<OpenPort> adopted_;
  std::string adoptedPath_;
  std::vector<uint8_t> adoptedBytes_;
  std::mutex waitMutex_;
  std::condition_variable dataArrived_;
  // Bytes the waiting frame reader needs before it can go on (0: nobody waits). The reader
  // wakes it only once they are there: at 115200 baud bytes come in pieces of about a dozen,
  // and waking the worker for each would cost more than the rest of the transfer.
  std::atomic<uint32_t> wantedBytes_{0};
  std::chrono::nanoseconds byteTime_{0};  // one byte on the line; set while the reader is stopped
  NoticeHandler onNotice_;
  ByteTap* tap_ = nullptr;
  // Reader thread only (reset while it does not run): bytes lost to a full queue since the
  // open, and when they were last reported.
  uint64_t droppedBytes_ = 0;
  bool droppedReported_ = false;
  uint64_t lastDropNotice_ = 0;
};

}  // namespace kestal

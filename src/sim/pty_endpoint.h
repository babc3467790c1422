#pragma once
// The receiver's end of a virtual serial line: the master side of a pseudo-terminal, driven by
// one thread. Clients open the slave device as if it were a serial port.
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "link/link.h"
#include "sim/byte_pacer.h"

namespace kestal::sim {

class PtyEndpoint final : public Link {
 public:
  // Creates a pseudo-terminal with a raw slave. Returns null with `error` set on failure.
  static std::unique_ptr<PtyEndpoint> Create(std::string* error);
  ~PtyEndpoint() override;
  PtyEndpoint(const PtyEndpoint&) = delete;
  PtyEndpoint& operator=(const PtyEndpoint&) = delete;

  // The device path clients open.
  const std::string& SlavePath() const { return slavePath_; }
  // Paces every byte written at baud / 10 bytes per second; 0 = as fast as possible.
  void SetBaud(uint32_t baud);
  // The endpoint holds the slave open itself so that the master does not report a hang-up while
  // no client has the port yet. Once a client is talking, letting go of it lets the client's
  // close show up as a hang-up.
  void ReleaseOwnSlave();
  // The client closed the port before it was talking for good (a port probe hands the line on
  // to the transfer that reopens it). Holds the slave again so the master does not report the
  // hang-up while the client is away; a client already back keeps the slave exclusively, and
  // then there is nothing to hold. False when the line cannot wait.
  bool AwaitClientReturn();
  // Models a USB serial adapter's latency timer: bytes written are held until a full USB packet
  // has gathered or `holdMs` has passed since the oldest of them. 0 = handed on at once.
  void SetHold(uint32_t holdMs) { hold_ = std::chrono::milliseconds(holdMs); }

  // The pseudo-terminal is opened by Create; this only adopts a line speed.
  OpenResult OpenLink(const std::string& devicePath, uint32_t baud) override;
  void CloseLink() override;
  SendResult SendBytes(const uint8_t* data, size_t count) override;
  ReceiveQueue& Queue() override { return queue_; }
  // Reads what the client wrote; the endpoint has no reader thread of its own.
  void WaitForBytes(uint64_t deadlineMs, size_t count) override;
  const Clock& GetClock() const override { return SystemClock(); }
  bool IsOpen() const override { return master_ >= 0; }
  bool IsHungUp() const override { return hungUp_; }

 private:
  PtyEndpoint(int master, int ownSlave, std::string slavePath);
  void ReadAvailable();
  // Writes all of `data`, waiting while the client's input buffer is full. False on failure.
  bool WriteAll(const uint8_t* data, size_t count);
  // Passes written bytes through the modelled adapter: full packets at once, the rest held.
  bool Hand(const uint8_t* data, size_t count);
  // Hands on the held bytes once their time has come.
  bool FlushDueHeld();
  // Milliseconds until the held bytes are due, rounded up.
  uint64_t HeldWaitMs() const;

  int master_;
  int ownSlave_;
  std::string slavePath_;
  ReceiveQueue queue_;
  BytePacer pacer_;
  bool hungUp_ = false;
  std::chrono::milliseconds hold_{0};
  std::vector<uint8_t> held_;
  std::chrono::steady_clock::time_point heldSince_{};
};

}  // namespace kestal::sim

// SerialLink's side that is the same on every platform: the frame reader's wait for bytes, the
// queue the reader fills and its overflow notices. Opening, closing, writing and reading the
// port are in serial_link_posix.cpp and serial_link_win32.cpp.
#include "link/serial_link.h"

#include <algorithm>
#include <chrono>
#include <system_error>

namespace kestal {

namespace {
constexpr uint64_t kDropNoticePeriodMs = 1000;
}  // namespace

SerialLink::SerialLink(const Clock& clock) : clock_(clock) {}

SerialLink::~SerialLink() { CloseLink(); }

void SerialLink::JoinReader() {
  if (!reader_.joinable()) return;
  if (reader_.get_id() == std::this_thread::get_id()) {
    reader_.detach();  // closed from a notice handler: the reader ends on its own
  } else {
    reader_.join();  // prompt: the reader blocks only where a close releases it
  }
}

void SerialLink::WaitForBytes(uint64_t deadlineMs, size_t count) {
  // Capped at one read's worth: with that much held the reader can still queue two more reads,
  // so a long frame is drained while it arrives and never meets a full queue.
  const auto wanted = static_cast<uint32_t>(std::clamp<size_t>(count, 1, kReadChunk));
  std::unique_lock lock(waitMutex_);
  // Published before the queue is tested; the reader publishes the queue before it reads this
  // (fenced on both sides), so one of the two always sees the other.
  wantedBytes_.store(wanted);
  std::atomic_thread_fence(std::memory_order_seq_cst);
  // The reader changes the queue and the flags before taking waitMutex_ to notify, so testing
  // them under the mutex cannot miss a wake-up.
  while (queue_.Count() < wanted && IsOpen() && !IsHungUp()) {
    const uint64_t now = clock_.NowMs();
    if (now >= deadlineMs) break;
    dataArrived_.wait_for(lock, std::chrono::milliseconds(deadlineMs - now));
  }
  wantedBytes_.store(0);
}

void SerialLink::QueueChunk(const uint8_t* chunk, size_t size) {
  if (tap_ != nullptr) tap_->Received(chunk, size);  // a chunk the queue drops came in too
  if (!queue_.PushChunk(chunk, size)) {
    NoteDroppedChunk(size);
    return;
  }
  std::atomic_thread_fence(std::memory_order_seq_cst);  // pairs with WaitForBytes' store
  if (queue_.Count() >= wantedBytes_.load()) SignalData();
}

void SerialLink::NoteDroppedChunk(size_t size) {
  // Noise at full speed fills the queue thousands of times a second: one notice a second,
  // counting what was lost since the last one, keeps stderr readable and the core free.
  droppedBytes_ += size;
  const uint64_t now = clock_.NowMs();
  if (droppedReported_ && now - lastDropNotice_ < kDropNoticePeriodMs) return;
  lastDropNotice_ = now;
  if (!droppedReported_) {
    droppedReported_ = true;
    Notice("m_QueueRead FULL!");
  } else {
    Notice("m_QueueRead FULL! " + std::to_string(droppedBytes_) + " bytes dropped so far");
  }
}

void SerialLink::MarkHungUp() {
  if (tap_ != nullptr) tap_->HungUp();
  hungUp_.store(true, std::memory_order_release);
  SignalData();
}

std::shared_ptr<SerialLink::OpenPort> SerialLink::CurrentPort() const {
  std::lock_guard lock(portMutex_);
  return port_;
}

void SerialLink::SignalData() {
  { std::lock_guard lock(waitMutex_); }
  dataArrived_.notify_all();
}

void SerialLink::Notice(const std::string& text) const {
  if (onNotice_) onNotice_(text);
}

void SerialLink::BeginOpen() {
  CloseLink();  // one reader per queue, ever
  hungUp_.store(false, std::memory_order_release);
  droppedBytes_ = 0;
  droppedReported_ = false;
}

OpenResult SerialLink::StartReader(std::shared_ptr<OpenPort> port) {
  {
    std::lock_guard lock(portMutex_);
    port_ = port;
  }
  open_.store(true, std::memory_order_release);
  try {
    reader_ = std::thread(&SerialLink::ReadPort, this, std::move(port));
  } catch (const std::system_error&) {
    CloseLink();
    return OpenResult::Failed;
  }
  return OpenResult::Ok;
}

}  // namespace kestal

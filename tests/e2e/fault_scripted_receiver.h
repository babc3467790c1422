#pragma once
// A receiver scripted by the test, running on its own thread while the test thread serves the
// tool's window, with the download-side steps the scenarios share.
#include <functional>
#include <optional>
#include <thread>

#include "e2e/e2e_support.h"
#include "e2e/fault_support.h"

namespace kestal::e2e {

class ScriptedReceiver {
 public:
  ScriptedReceiver() = default;
  ~ScriptedReceiver() { Join(); }

  PtyPeer& Peer() { return m_peer; }
  const std::string& Device() const { return m_peer.Device(); }
  void Run(std::function<void(ScriptedReceiver&)> script) {
    m_thread = std::thread([this, script = std::move(script)] { script(*this); });
  }
  void Join() {
    if (m_thread.joinable()) m_thread.join();
  }

  // Burst, then CMD_REQUEST until accepted (three tries, as a receiver asks again when its
  // request went unanswered). False when the tool never accepted.
  bool Request(uint32_t value = 0) {
    if (!m_burstSeen && !(m_burstSeen = m_peer.WaitForBurst(5s))) return false;
    const uint8_t sequence = ++m_sequence;
    for (int attempt = 0; attempt < 3; ++attempt) {
      m_peer.Send(sequence, CMD_REQUEST, Be32(value));
      while (auto answer = m_peer.Receive(1500ms)) {
        if (answer->command == CMD_ACCEPT_DOWNLOAD && answer->sequence == sequence) return true;
      }
    }
    return false;
  }
  // One block request; the data when the tool answered it within a second.
  std::optional<std::vector<uint8_t>> Block(uint16_t length, uint32_t offset) {
    const uint8_t sequence = ++m_sequence;
    m_peer.Send(sequence, CMD_BLOCK_REQUEST, BlockRequest(length, offset));
    auto answer = m_peer.Receive(1s);
    if (!answer || answer->command != CMD_BLOCK_DATA || answer->sequence != sequence ||
        !answer->sumOk) {
      return std::nullopt;
    }
    return answer->payload;
  }
  void Finish() { m_peer.Send(++m_sequence, CMD_FINISH, {}); }

 private:
  PtyPeer m_peer;
  std::thread m_thread;
  bool m_burstSeen = false;
  uint8_t m_sequence = 0;
};

}  // namespace kestal::e2e

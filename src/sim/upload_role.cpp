// The receiver's side of a transfer from it: after its request is accepted the tool leads, and
// the receiver answers the size query and every block request from the served file.
#include <algorithm>
#include <limits>

#include "sim/data_files.h"
#include "sim/exchange.h"
#include "sim/session.h"

namespace kestal::sim {

namespace {

class UploadRole {
 public:
  explicit UploadRole(const SimSession& session)
      : m_exchange(session), m_wire(m_exchange.Wire()), m_options(session.options) {}

  SimWire& Wire() { return m_wire; }

  std::string Run() {
    std::string error;
    if (!ReadWholeFile(m_options.servePath, m_data, &error)) Fault(error);
    if (m_data.size() > std::numeric_limits<uint32_t>::max()) Fault("served file too large");
    m_exchange.Open(CMD_ACCEPT_UPLOAD);
    Serve();
    return "upload ok, served " + std::to_string(m_servedEnd) + " of " +
           std::to_string(m_data.size()) + " bytes in " + std::to_string(m_exchange.Blocks()) +
           " blocks";
  }

 private:
  // Answers the tool until its CMD_FINISH; any frame from it counts as traffic.
  void Serve() {
    const uint64_t seconds = m_options.timeoutMs / 1000;
    uint64_t until = m_wire.Now() + m_options.timeoutMs;
    for (;;) {
      switch (m_wire.Receive(until)) {
        case WaitResult::kHungUp:
          Fault("the tool closed the port before CMD_FINISH");
        case WaitResult::kTimeout:
          Fault("no frame from the tool for " + std::to_string(seconds) + " s");
        case WaitResult::kBadSum:
          break;
        case WaitResult::kFrame:
          until = m_wire.Now() + m_options.timeoutMs;
          if (m_wire.Command() == CMD_FINISH) return;
          if (m_wire.Command() == CMD_SIZE_QUERY) AnswerSizeQuery();
          if (m_wire.Command() == CMD_BLOCK_REQUEST) AnswerBlockRequest();
          break;
      }
    }
  }

  void AnswerSizeQuery() {
    const uint16_t type = m_wire.Length() >= 2 ? GetBE16(m_wire.Payload()) : 0;
    uint32_t size = static_cast<uint32_t>(m_data.size());
    if (type != DATA_TYPE_CHANNELS) {
      m_wire.Report("size query for data type " + std::to_string(type) + ", answered 0");
      size = 0;
    }
    m_wire.Send(m_wire.Sequence(), CMD_SIZE_REPLY, BE32Payload(size));
  }

  void AnswerBlockRequest() {
    if (m_wire.Length() < 6) Fault("CMD_BLOCK_REQUEST with a payload shorter than 6 bytes");
    const uint16_t length = GetBE16(m_wire.Payload());
    const uint32_t offset = GetBE32(m_wire.Payload() + 2);
    if (uint64_t{offset} + length > m_data.size()) {
      Fault("the tool asked for " + std::to_string(length) + " bytes at offset " +
            std::to_string(offset) + ", past the end of " + std::to_string(m_data.size()));
    }
    m_exchange.BeforeBlock();
    const auto from = m_data.begin() + offset;
    m_wire.Send(m_wire.Sequence(), CMD_BLOCK_DATA, std::vector<uint8_t>(from, from + length));
    m_servedEnd = std::max<uint64_t>(m_servedEnd, uint64_t{offset} + length);
    m_exchange.BlockDone();
  }

  ReceiverExchange m_exchange;
  SimWire& m_wire;
  const SimOptions& m_options;
  std::vector<uint8_t> m_data;
  uint64_t m_servedEnd = 0;
};

}  // namespace

int RunUploadRole(const SimSession& session) {
  UploadRole role(session);
  return RunReported(role.Wire(), [&] { return role.Run(); });
}

}  // namespace kestal::sim

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
      : exchange_(session), wire_(exchange_.Wire()), options_(session.options) {}

  SimWire& Wire() { return wire_; }

  SimEnd Run() {
    std::string error;
    if (!ReadWholeFile(options_.servePath, data_, &error)) return Fault(error);
    if (data_.size() > std::numeric_limits<uint32_t>::max()) return Fault("served file too large");
    if (Step end = exchange_.Open(CMD_ACCEPT_UPLOAD)) return *end;
    if (Step end = Serve()) return *end;
    return {0, "upload ok, served " + std::to_string(servedEnd_) + " of " +
                   std::to_string(data_.size()) + " bytes in " +
                   std::to_string(exchange_.Blocks()) + " blocks"};
  }

 private:
  // Answers the tool until its CMD_FINISH; any frame from it counts as traffic.
  Step Serve() {
    const uint64_t seconds = options_.timeoutMs / 1000;
    uint64_t until = wire_.Now() + options_.timeoutMs;
    for (;;) {
      switch (wire_.Receive(until)) {
        case WaitResult::HungUp:
          return Fault("the tool closed the port before CMD_FINISH, after " +
                       std::to_string(exchange_.Blocks()) + " blocks");
        case WaitResult::Timeout:
          return Fault("no frame from the tool for " + std::to_string(seconds) + " s");
        case WaitResult::BadSum:
          break;
        case WaitResult::Frame:
          until = wire_.Now() + options_.timeoutMs;
          if (wire_.Command() == CMD_FINISH) return {};
          if (wire_.Command() == CMD_SIZE_QUERY) {
            if (Step end = AnswerSizeQuery()) return end;
          }
          if (wire_.Command() == CMD_BLOCK_REQUEST) {
            if (Step end = AnswerBlockRequest()) return end;
          }
          break;
      }
    }
  }

  // A scripted end after 0 blocks comes here, before any block is asked for.
  Step AnswerSizeQuery() {
    if (Step end = exchange_.BeforeBlock()) return end;
    const uint16_t type = wire_.Length() >= 2 ? GetBE16(wire_.Payload()) : 0;
    uint32_t size = options_.claimSize.value_or(static_cast<uint32_t>(data_.size()));
    if (type != DATA_TYPE_CHANNELS) {
      wire_.Report("size query for data type " + std::to_string(type) + ", answered 0");
      size = 0;
    }
    wire_.Send(wire_.Sequence(), CMD_SIZE_REPLY, BE32Payload(size));
    return {};
  }

  Step AnswerBlockRequest() {
    if (wire_.Length() < 6) return Fault("CMD_BLOCK_REQUEST with a payload shorter than 6 bytes");
    const uint16_t length = GetBE16(wire_.Payload());
    const uint32_t offset = GetBE32(wire_.Payload() + 2);
    if (uint64_t{offset} + length > data_.size()) {
      return Fault("the tool asked for " + std::to_string(length) + " bytes at offset " +
                   std::to_string(offset) + ", past the end of " + std::to_string(data_.size()));
    }
    if (Step end = exchange_.BeforeBlock()) return end;
    const uint32_t nth = ++blockRequests_;
    if (nth == options_.requestAtBlock) {
      wire_.Send(exchange_.NextSequence(), CMD_REQUEST, BE32Payload(options_.requestValue));
    }
    const auto from = data_.begin() + offset;
    const std::vector<uint8_t> block(from, from + length);
    wire_.Send(wire_.Sequence(), CMD_BLOCK_DATA, block);
    if (nth == options_.repeatAnswer) wire_.Send(wire_.Sequence(), CMD_BLOCK_DATA, block);
    servedEnd_ = std::max<uint64_t>(servedEnd_, uint64_t{offset} + length);
    exchange_.BlockDone();
    return {};
  }

  ReceiverExchange exchange_;
  SimWire& wire_;
  const SimOptions& options_;
  std::vector<uint8_t> data_;
  uint64_t servedEnd_ = 0;
  uint32_t blockRequests_ = 0;  // answered so far, counting repeats of the tool
};

}  // namespace

int RunUploadRole(const SimSession& session) {
  UploadRole role(session);
  return RunReported(role.Wire(), [&] { return role.Run(); });
}

}  // namespace kestal::sim

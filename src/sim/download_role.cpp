// The receiver's side of a transfer to it: it leads, asking for the data by offset and length,
// and judges what arrived (compare, save, or unpack a channel image).
#include <algorithm>
#include <limits>

#include "image/crc16.h"
#include "image/image_format.h"
#include "image/image_reader.h"
#include "sim/data_files.h"
#include "sim/exchange.h"
#include "sim/session.h"

namespace kestal::sim {

namespace {

namespace fmt = image_format;

class DownloadRole {
 public:
  explicit DownloadRole(const SimSession& session)
      : exchange_(session), wire_(exchange_.Wire()), options_(session.options) {}

  SimWire& Wire() { return wire_; }

  SimEnd Run() {
    std::vector<uint8_t> expected;
    const bool compare = !options_.expectPath.empty();
    std::string error;
    if (compare && !ReadWholeFile(options_.expectPath, expected, &error)) return Fault(error);
    if (options_.blockSize == 0 || options_.blockSize > 65535) {
      return Fault("block size must be 1 to 65535");
    }
    if (options_.mode == DownloadMode::Software) return RunSoftware(expected, compare);
    return RunChannels(expected, compare);
  }

 private:
  SimEnd RunSoftware(const std::vector<uint8_t>& expected, bool compare) {
    uint64_t size = expected.size();
    if (options_.size) {
      size = *options_.size;
    } else if (!compare) {
      return Fault("software mode needs --size or --expect");
    }
    if (size > std::numeric_limits<uint32_t>::max()) return Fault("size beyond 32-bit offsets");
    // Kept only to be compared or saved: a receiver holding 64 MB that nobody looks at would
    // fault in a fresh page every 4 KB while the tool waits for the next request. Kept, it is
    // grown once rather than by doubling, which would copy all of it again and again.
    keepData_ = compare || !options_.savePath.empty();
    if (keepData_) data_.reserve(size);
    std::string ending;
    if (Step end = exchange_.Open(CMD_ACCEPT_DOWNLOAD)) return *end;
    if (Step end = Fetch(size)) return *end;
    if (Step end = End(ending)) return *end;
    if (Step end = Save(data_)) return *end;
    if (compare) {
      const std::string difference = FirstDifference(data_, expected);
      if (!difference.empty()) return Fault("data " + difference + " of " + options_.expectPath);
    }
    return {0, Success(ending)};
  }

  SimEnd RunChannels(const std::vector<uint8_t>& expected, bool compare) {
    if (Step end = exchange_.Open(CMD_ACCEPT_DOWNLOAD)) return *end;
    uint32_t blockCount = 0;
    if (Step end = FetchHeader(blockCount)) return *end;
    for (uint32_t i = 0; i < blockCount; ++i) {
      if (Step end = FetchImageBlock(i)) return *end;
    }
    std::string ending;
    if (Step end = End(ending)) return *end;

    const ImageReport report = InspectImage(data_.data(), data_.size(), true);
    if (!report.valid) {
      return Fault("image fault at offset " + std::to_string(report.errorOffset) + ": " +
                   report.error);
    }
    if (report.requestValue != options_.requestValue) {
      return Fault("image header carries request value " + Hex(report.requestValue) +
                   ", requested " + Hex(options_.requestValue));
    }
    if (Step end = Save(report.content)) return *end;
    if (compare) {
      const std::string difference = FirstDifference(report.content, expected);
      if (!difference.empty()) {
        return Fault("channel list " + difference + " of " + options_.expectPath);
      }
    }
    return {0, Success("") + ", channel list " + std::to_string(report.content.size()) +
                   " bytes in " + std::to_string(report.blockCount) + " blocks" + ending};
  }

  // The header tells how many blocks follow; its CRC is checked before it is trusted.
  Step FetchHeader(uint32_t& blockCount) {
    if (Step end = Fetch(IMAGE_HEADER_SIZE)) return end;
    const uint16_t lengthField = GetBE16(data_.data() + fmt::kLengthAt);
    if (lengthField != fmt::kHeaderLengthField) {
      return Fault("image header length field is " + std::to_string(lengthField) + ", not 126");
    }
    const uint16_t stored = GetBE16(data_.data() + fmt::kCrcAt);
    const uint16_t computed =
        Crc16(data_.data() + fmt::kCrcCoverageStart, IMAGE_HEADER_SIZE - fmt::kCrcCoverageStart);
    if (stored != computed) {
      return Fault("image header CRC is " + Hex(stored) + ", computed " + Hex(computed));
    }
    blockCount = GetBE32(data_.data() + fmt::kBlockCountAt);
    return {};
  }

  // Each block is found by its length field: first those two bytes, then the rest.
  Step FetchImageBlock(uint32_t index) {
    const size_t start = data_.size();
    if (Step end = Fetch(2)) return end;
    const uint16_t lengthField = GetBE16(data_.data() + start);
    if (lengthField < fmt::kBlockLengthOverhead) {
      return Fault("image block " + std::to_string(index) + " at offset " + std::to_string(start) +
                   " has length field " + std::to_string(lengthField));
    }
    return Fetch(lengthField);
  }

  // Appends `length` bytes at the end of what has arrived so far, in blocks of the block size.
  Step Fetch(uint64_t length) {
    const uint64_t end = received_ + length;
    if (end > std::numeric_limits<uint32_t>::max()) {
      return Fault("data reaches beyond 32-bit offsets");
    }
    while (received_ < end) {
      const uint64_t piece = std::min<uint64_t>(options_.blockSize, end - received_);
      if (Step ended = FetchBlock(static_cast<uint32_t>(received_), static_cast<uint16_t>(piece))) {
        return ended;
      }
    }
    return {};
  }

  Step FetchBlock(uint32_t offset, uint16_t length) {
    const std::string where =
        "block of " + std::to_string(length) + " bytes at offset " + std::to_string(offset);
    std::string lastIssue = "no answer";
    if (Step end = exchange_.BeforeBlock()) return end;
    for (uint32_t attempt = 0; attempt < options_.attempts; ++attempt) {
      const uint8_t sequence = exchange_.NextSequence();
      wire_.Send(sequence, CMD_BLOCK_REQUEST, BlockRequestPayload(length, offset));
      const uint64_t until = wire_.Now() + exchange_.ReplyWindowMs(length);
      for (bool waiting = true; waiting;) {
        switch (wire_.Receive(until)) {
          case WaitResult::HungUp:
            return Fault("the tool closed the port while asked for the " + where);
          case WaitResult::Timeout:
            lastIssue = "no answer";
            waiting = false;
            break;
          case WaitResult::BadSum:
            lastIssue = "answer with a bad sum";
            waiting = false;
            break;
          case WaitResult::Frame:
            if (wire_.Sequence() != sequence) {
              lastIssue = std::string("stray ") + CommandName(wire_.Command());
              break;  // a late answer to an earlier request
            }
            if (wire_.Command() != CMD_BLOCK_DATA) {
              lastIssue = std::string(CommandName(wire_.Command())) + " instead of data";
              break;
            }
            return TakeBlock(length, where);
        }
      }
    }
    return Fault(where + ": " + lastIssue + " after " + std::to_string(options_.attempts) +
                 " requests");
  }

  // The answer to the block just asked for is in the wire's frame.
  Step TakeBlock(uint16_t length, const std::string& where) {
    if (wire_.Length() != length) {
      return Fault("CMD_BLOCK_DATA of " + std::to_string(wire_.Length()) + " bytes answered the " +
                   where);
    }
    if (keepData_) data_.insert(data_.end(), wire_.Payload(), wire_.Payload() + length);
    received_ += length;
    exchange_.BlockDone();
    return {};
  }

  // Ends the exchange: CMD_FINISH, or the scripted request past the end of the data. `ending`
  // gets what the success line adds.
  Step End(std::string& ending) {
    if (options_.pastEnd) return RequestPastEnd(ending);
    const uint8_t sequence = exchange_.NextSequence();
    // Nothing answers CMD_FINISH, so a copy the injector spoiled is sent again.
    for (uint32_t attempt = 0; attempt < options_.attempts; ++attempt) {
      if (wire_.Send(sequence, CMD_FINISH, {}).Intact()) break;
    }
    // Closing a pseudo-terminal discards what its client has not read yet: give the tool time
    // to take CMD_FINISH and close the port first.
    Step ignored;
    exchange_.WaitForHangUp(exchange_.ReplyWindowMs(0), {}, ignored);
    return {};
  }

  // The tool must refuse a block reaching past its data: no answer, and it ends the transfer.
  Step RequestPastEnd(std::string& ending) {
    const uint64_t size = received_;
    const uint64_t length = std::min<uint64_t>(options_.blockSize, size + 1);
    const uint32_t offset = static_cast<uint32_t>(size + 1 - length);
    const uint8_t sequence = exchange_.NextSequence();
    wire_.Send(sequence, CMD_BLOCK_REQUEST,
               BlockRequestPayload(static_cast<uint16_t>(length), offset));
    wire_.Report("sent a request past the end (" + std::to_string(length) + " bytes at offset " +
                 std::to_string(offset) + ")");
    Step answered;
    const bool hungUp = exchange_.WaitForHangUp(
        options_.timeoutMs,
        [&]() -> Step {
          if (wire_.Sequence() == sequence && wire_.Command() == CMD_BLOCK_DATA) {
            return Fault("the tool answered a request past the end of its data");
          }
          return {};
        },
        answered);
    if (answered) return answered;
    ending = std::string("; the tool did not answer the request past the end") +
             (hungUp ? " and closed the port" : "");
    return {};
  }

  Step Save(const std::vector<uint8_t>& data) {
    std::string error;
    if (!options_.savePath.empty() && !WriteWholeFile(options_.savePath, data, &error)) {
      return Fault(error);
    }
    return {};
  }

  std::string Success(const std::string& ending) const {
    return "download ok, " + std::to_string(received_) + " bytes" + ending;
  }

  ReceiverExchange exchange_;
  SimWire& wire_;
  const SimOptions& options_;
  std::vector<uint8_t> data_;
  uint64_t received_ = 0;  // bytes fetched so far, kept or not
  bool keepData_ = true;   // a channel image is always kept: it is unpacked and checked
};

}  // namespace

int RunDownloadRole(const SimSession& session) {
  DownloadRole role(session);
  return RunReported(role.Wire(), [&] { return role.Run(); });
}

}  // namespace kestal::sim

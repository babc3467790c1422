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
      : m_exchange(session), m_wire(m_exchange.Wire()), m_options(session.options) {}

  SimWire& Wire() { return m_wire; }

  std::string Run() {
    std::vector<uint8_t> expected;
    const bool compare = !m_options.expectPath.empty();
    if (compare) ReadOrFault(m_options.expectPath, expected);
    if (m_options.blockSize == 0 || m_options.blockSize > 65535) {
      Fault("block size must be 1 to 65535");
    }
    if (m_options.mode == DownloadMode::kSoftware) return RunSoftware(expected, compare);
    return RunChannels(expected, compare);
  }

 private:
  std::string RunSoftware(const std::vector<uint8_t>& expected, bool compare) {
    uint64_t size = expected.size();
    if (m_options.size) {
      size = *m_options.size;
    } else if (!compare) {
      Fault("software mode needs --size or --expect");
    }
    if (size > std::numeric_limits<uint32_t>::max()) Fault("size beyond 32-bit offsets");
    // Kept only to be compared or saved: a receiver holding 64 MB that nobody looks at would
    // fault in a fresh page every 4 KB while the tool waits for the next request. Kept, it is
    // grown once rather than by doubling, which would copy all of it again and again.
    m_keepData = compare || !m_options.savePath.empty();
    if (m_keepData) m_data.reserve(size);
    m_exchange.Open(CMD_ACCEPT_DOWNLOAD);
    Fetch(static_cast<uint32_t>(size));
    const std::string ending = End();
    Save(m_data);
    if (compare) {
      const std::string difference = FirstDifference(m_data, expected);
      if (!difference.empty()) Fault("data " + difference + " of " + m_options.expectPath);
    }
    return Success(ending);
  }

  std::string RunChannels(const std::vector<uint8_t>& expected, bool compare) {
    m_exchange.Open(CMD_ACCEPT_DOWNLOAD);
    const uint32_t blockCount = FetchHeader();
    for (uint32_t i = 0; i < blockCount; ++i) FetchImageBlock(i);
    const std::string ending = End();

    const ImageReport report = InspectImage(m_data.data(), m_data.size(), true);
    if (!report.valid) {
      Fault("image fault at offset " + std::to_string(report.errorOffset) + ": " + report.error);
    }
    if (report.requestValue != m_options.requestValue) {
      Fault("image header carries request value " + Hex(report.requestValue) + ", requested " +
            Hex(m_options.requestValue));
    }
    Save(report.content);
    if (compare) {
      const std::string difference = FirstDifference(report.content, expected);
      if (!difference.empty()) Fault("channel list " + difference + " of " + m_options.expectPath);
    }
    return Success("") + ", channel list " + std::to_string(report.content.size()) +
           " bytes in " + std::to_string(report.blockCount) + " blocks" + ending;
  }

  // The header tells how many blocks follow; its CRC is checked before it is trusted.
  uint32_t FetchHeader() {
    Fetch(IMAGE_HEADER_SIZE);
    const uint16_t lengthField = fmt::ReadBE16(m_data.data() + fmt::kLengthAt);
    if (lengthField != fmt::kHeaderLengthField) {
      Fault("image header length field is " + std::to_string(lengthField) + ", not 126");
    }
    const uint16_t stored = fmt::ReadBE16(m_data.data() + fmt::kCrcAt);
    const uint16_t computed =
        Crc16(m_data.data() + fmt::kCrcCoverageStart, IMAGE_HEADER_SIZE - fmt::kCrcCoverageStart);
    if (stored != computed) {
      Fault("image header CRC is " + Hex(stored) + ", computed " + Hex(computed));
    }
    return fmt::ReadBE32(m_data.data() + fmt::kBlockCountAt);
  }

  // Each block is found by its length field: first those two bytes, then the rest.
  void FetchImageBlock(uint32_t index) {
    const size_t start = m_data.size();
    Fetch(2);
    const uint16_t lengthField = fmt::ReadBE16(m_data.data() + start);
    if (lengthField < fmt::kBlockLengthOverhead) {
      Fault("image block " + std::to_string(index) + " at offset " + std::to_string(start) +
            " has length field " + std::to_string(lengthField));
    }
    Fetch(lengthField);
  }

  // Appends `length` bytes at the end of what has arrived so far, in blocks of the block size.
  void Fetch(uint64_t length) {
    const uint64_t end = m_received + length;
    if (end > std::numeric_limits<uint32_t>::max()) Fault("data reaches beyond 32-bit offsets");
    while (m_received < end) {
      const uint64_t piece = std::min<uint64_t>(m_options.blockSize, end - m_received);
      FetchBlock(static_cast<uint32_t>(m_received), static_cast<uint16_t>(piece));
    }
  }

  void FetchBlock(uint32_t offset, uint16_t length) {
    const std::string where =
        "block of " + std::to_string(length) + " bytes at offset " + std::to_string(offset);
    std::string lastIssue = "no answer";
    m_exchange.BeforeBlock();
    for (uint32_t attempt = 0; attempt < m_options.attempts; ++attempt) {
      const uint8_t sequence = m_exchange.NextSequence();
      m_wire.Send(sequence, CMD_BLOCK_REQUEST, BlockRequestPayload(length, offset));
      const uint64_t until = m_wire.Now() + m_exchange.ReplyWindowMs(length);
      for (bool waiting = true; waiting;) {
        switch (m_wire.Receive(until)) {
          case WaitResult::kHungUp:
            Fault("the tool closed the port while asked for the " + where);
          case WaitResult::kTimeout:
            lastIssue = "no answer";
            waiting = false;
            break;
          case WaitResult::kBadSum:
            lastIssue = "answer with a bad sum";
            waiting = false;
            break;
          case WaitResult::kFrame:
            if (m_wire.Sequence() != sequence) {
              lastIssue = std::string("stray ") + CommandName(m_wire.Command());
              break;  // a late answer to an earlier request
            }
            if (m_wire.Command() != CMD_BLOCK_DATA) {
              lastIssue = std::string(CommandName(m_wire.Command())) + " instead of data";
              break;
            }
            if (m_wire.Length() != length) {
              Fault("CMD_BLOCK_DATA of " + std::to_string(m_wire.Length()) +
                    " bytes answered the " + where);
            }
            if (m_keepData) {
              m_data.insert(m_data.end(), m_wire.Payload(), m_wire.Payload() + length);
            }
            m_received += length;
            m_exchange.BlockDone();
            return;
        }
      }
    }
    Fault(where + ": " + lastIssue + " after " + std::to_string(m_options.attempts) +
          " requests");
  }

  // Ends the exchange: CMD_FINISH, or the scripted request past the end of the data.
  std::string End() {
    if (m_options.pastEnd) return RequestPastEnd();
    const uint8_t sequence = m_exchange.NextSequence();
    // Nothing answers CMD_FINISH, so a copy the injector spoiled is sent again.
    for (uint32_t attempt = 0; attempt < m_options.attempts; ++attempt) {
      if (m_wire.Send(sequence, CMD_FINISH, {}).Intact()) break;
    }
    // Closing a pseudo-terminal discards what its client has not read yet: give the tool time
    // to take CMD_FINISH and close the port first.
    m_exchange.WaitForHangUp(m_exchange.ReplyWindowMs(0), {});
    return {};
  }

  // The tool must refuse a block reaching past its data: no answer, and it ends the transfer.
  std::string RequestPastEnd() {
    const uint64_t size = m_received;
    const uint64_t length = std::min<uint64_t>(m_options.blockSize, size + 1);
    const uint32_t offset = static_cast<uint32_t>(size + 1 - length);
    const uint8_t sequence = m_exchange.NextSequence();
    m_wire.Send(sequence, CMD_BLOCK_REQUEST,
                BlockRequestPayload(static_cast<uint16_t>(length), offset));
    m_wire.Report("sent a request past the end (" + std::to_string(length) +
                  " bytes at offset " + std::to_string(offset) + ")");
    const bool hungUp = m_exchange.WaitForHangUp(m_options.timeoutMs, [&] {
      if (m_wire.Sequence() == sequence && m_wire.Command() == CMD_BLOCK_DATA) {
        Fault("the tool answered a request past the end of its data");
      }
    });
    return std::string("; the tool did not answer the request past the end") +
           (hungUp ? " and closed the port" : "");
  }

  void Save(const std::vector<uint8_t>& data) {
    std::string error;
    if (!m_options.savePath.empty() && !WriteWholeFile(m_options.savePath, data, &error)) {
      Fault(error);
    }
  }

  void ReadOrFault(const std::string& path, std::vector<uint8_t>& data) {
    std::string error;
    if (!ReadWholeFile(path, data, &error)) Fault(error);
  }

  std::string Success(const std::string& ending) const {
    return "download ok, " + std::to_string(m_received) + " bytes" + ending;
  }

  ReceiverExchange m_exchange;
  SimWire& m_wire;
  const SimOptions& m_options;
  std::vector<uint8_t> m_data;
  uint64_t m_received = 0;  // bytes fetched so far, kept or not
  bool m_keepData = true;   // a channel image is always kept: it is unpacked and checked
};

}  // namespace

int RunDownloadRole(const SimSession& session) {
  DownloadRole role(session);
  return RunReported(role.Wire(), [&] { return role.Run(); });
}

}  // namespace kestal::sim

#include "cli/transfer_meter.h"

#include <algorithm>

#include "link/frame_codec.h"

namespace kestal::cli {

void TransferMeter::OnFrame(bool sent, const uint8_t* body, size_t size, int result) {
  if (body == nullptr || size < FRAME_HEADER_SIZE) return;
  if (!sent && result != FRAME_OK) return;
  const uint8_t command = body[1];
  const uint16_t length = GetBE16(body + 2);
  if (size < FRAME_HEADER_SIZE + length) return;
  const uint8_t* payload = body + FRAME_HEADER_SIZE;

  if (command == CMD_BLOCK_REQUEST && length >= 6) {
    const uint16_t blockLength = GetBE16(payload);
    const uint32_t end = GetBE32(payload + 2) + blockLength;
    if (sent) {
      // We read from the receiver: the block counts once its data arrives.
      m_askedEnd.store(end, std::memory_order_relaxed);
      m_askedLength.store(blockLength, std::memory_order_relaxed);
    } else {
      // The receiver reads from us: it asks for blocks in order and gets each one at once.
      const uint32_t done = m_done.load(std::memory_order_relaxed);
      m_done.store(std::max(done, end), std::memory_order_relaxed);
    }
  } else if (command == CMD_SIZE_REPLY && !sent && length >= 4) {
    m_reportedSize.store(GetBE32(payload), std::memory_order_relaxed);
  } else if (command == CMD_BLOCK_DATA && !sent &&
             length == m_askedLength.load(std::memory_order_relaxed)) {
    m_done.store(m_askedEnd.load(std::memory_order_relaxed), std::memory_order_relaxed);
  }
}

}  // namespace kestal::cli

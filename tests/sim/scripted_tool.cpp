#include "scripted_tool.h"

#include "link/frame_codec.h"

namespace kestal::sim::testing {

BlockAsk ParseBlockRequest(const SentFrame& frame) {
  return BlockAsk{frame.sequence, GetBE16(frame.payload.data()), GetBE32(frame.payload.data() + 2)};
}

std::vector<uint8_t> Burst() { return std::vector<uint8_t>(WakeUpBurst, WakeUpBurst + 10); }

DownloadingTool::DownloadingTool(ScriptedLink& link, std::vector<uint8_t> data)
    : m_link(link), m_data(std::move(data)) {
  m_link.onFrame = [this](const SentFrame& frame) { Handle(frame); };
}

void DownloadingTool::Handle(const SentFrame& frame) {
  if (!frame.sumOk) return;
  if (frame.command == CMD_REQUEST) requests.push_back(frame);
  if (frame.command == CMD_FINISH) ++finishes;
  if (frame.command == CMD_BLOCK_REQUEST) blockAsks.push_back(ParseBlockRequest(frame));
  if (ignore && ignore(frame)) return;

  if (frame.command == CMD_REQUEST) {
    m_link.Deliver(WireFrame(frame.sequence, acceptCommand, {}));
  } else if (frame.command == CMD_BLOCK_REQUEST) {
    const BlockAsk ask = ParseBlockRequest(frame);
    if (uint64_t{ask.offset} + ask.length > m_data.size()) {
      if (hangUpPastEnd) m_link.HangUp();
      return;
    }
    const auto from = m_data.begin() + ask.offset;
    m_link.Deliver(WireFrame(frame.sequence, CMD_BLOCK_DATA,
                             std::vector<uint8_t>(from, from + ask.length)));
  } else if (frame.command == CMD_FINISH) {
    m_link.HangUp();  // the tool ends the transfer and closes its port
  }
}

}  // namespace kestal::sim::testing

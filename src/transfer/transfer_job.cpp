#include "transfer/transfer_job.h"

#include <algorithm>
#include <cstring>

namespace kestal {

std::unique_ptr<StatusNote> MakeStatusNote(int32_t displayTime, const std::string& text) {
  auto note = std::make_unique<StatusNote>();
  note->nDisplayTime = displayTime;
  const size_t length = std::min(text.size(), sizeof note->szText - 1);
  std::memcpy(note->szText, text.data(), length);
  note->szText[length] = '\0';
  return note;
}

}  // namespace kestal

#include "cli/console_output.h"

namespace kestal::cli {

namespace {
constexpr const char* kEraseLine = "\r\033[K";
}

ConsoleOutput::ConsoleOutput(std::FILE* stream, bool showBar)
    : stream_(stream), showBar_(showBar) {}

void ConsoleOutput::Line(const std::string& text) {
  EraseBar();
  std::fputs(text.c_str(), stream_);
  std::fputc('\n', stream_);
  if (!bar_.empty()) std::fputs(bar_.c_str(), stream_);
  std::fflush(stream_);
}

void ConsoleOutput::Bar(const std::string& text) {
  if (!showBar_) return;
  EraseBar();
  bar_ = text;
  std::fputs(bar_.c_str(), stream_);
  std::fflush(stream_);
}

void ConsoleOutput::ClearBar() {
  EraseBar();
  bar_.clear();
  std::fflush(stream_);
}

void ConsoleOutput::EraseBar() {
  if (!bar_.empty()) std::fputs(kEraseLine, stream_);
}

}  // namespace kestal::cli

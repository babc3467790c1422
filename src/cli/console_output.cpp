#include "cli/console_output.h"

namespace kestal::cli {

namespace {
constexpr const char* kEraseLine = "\r\033[K";
}

ConsoleOutput::ConsoleOutput(std::FILE* stream, bool showBar)
    : m_stream(stream), m_showBar(showBar) {}

void ConsoleOutput::Line(const std::string& text) {
  EraseBar();
  std::fputs(text.c_str(), m_stream);
  std::fputc('\n', m_stream);
  if (!m_bar.empty()) std::fputs(m_bar.c_str(), m_stream);
  std::fflush(m_stream);
}

void ConsoleOutput::Bar(const std::string& text) {
  if (!m_showBar) return;
  EraseBar();
  m_bar = text;
  std::fputs(m_bar.c_str(), m_stream);
  std::fflush(m_stream);
}

void ConsoleOutput::ClearBar() {
  EraseBar();
  m_bar.clear();
  std::fflush(m_stream);
}

void ConsoleOutput::EraseBar() {
  if (!m_bar.empty()) std::fputs(kEraseLine, m_stream);
}

}  // namespace kestal::cli

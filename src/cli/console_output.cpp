#include "cli/console_output.h"

#include <algorithm>
#include <utility>

#include "cli/signal_mask.h"
#include "cli/terminal.h"
#include "common/printable.h"

namespace kestal::cli {

namespace {
constexpr const char* kEraseLine = "\r\033[K";
constexpr const char* kLineUp = "\033[A";
constexpr const char* kEraseBelow = "\033[J";
// Beyond this many unwritten lines (a trace into a stalled pipe) memory would grow without
// bound; later lines are counted instead.
constexpr size_t kMaxQueuedLines = 100000;

// Each line of a bar printable on its own; the line breaks between them stay.
std::string PrintableLines(const std::string& text) {
  std::string out;
  for (size_t start = 0;;) {
    const size_t end = text.find('\n', start);
    out += Printable(text.substr(start, end - start));
    if (end == std::string::npos) return out;
    out += '\n';
    start = end + 1;
  }
}

// Characters, not bytes: UTF-8 continuation bytes take no place of their own.
int CharacterCount(const std::string& text) {
  return static_cast<int>(
      std::count_if(text.begin(), text.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

// Takes a bar off the screen: the cursor stands at the end of its last line. Without escape
// sequences (Windows' consoles) its one line is blanked over instead.
void EraseBar(std::FILE* stream, const std::string& bar, bool escapes) {
  const auto breaks = std::count(bar.begin(), bar.end(), '\n');
  if (!escapes) {
    const std::string lastLine = bar.substr(bar.rfind('\n') + 1);
    std::fprintf(stream, "\r%*s\r", CharacterCount(lastLine), "");
    return;
  }
  if (breaks == 0) {
    std::fputs(kEraseLine, stream);
    return;
  }
  for (auto up = breaks; up > 0; --up) std::fputs(kLineUp, stream);
  std::fputc('\r', stream);
  std::fputs(kEraseBelow, stream);
}
}  // namespace

ConsoleOutput::ConsoleOutput(std::FILE* stream, bool showBar)
    : stream_(stream),
      showBar_(showBar),
      escapes_(showBar && TakesEscapes(stream)),
      writer_([this] { WriteLoop(); }) {}

ConsoleOutput::~ConsoleOutput() {
  {
    std::lock_guard lock(mutex_);
    closing_ = true;
  }
  work_.notify_one();
  writer_.join();
}

void ConsoleOutput::Line(const std::string& text) { Enqueue(&text, nullptr); }

void ConsoleOutput::StateLine(const std::string& text) { Enqueue(&text, nullptr, true); }

void ConsoleOutput::Bar(const std::string& text) {
  if (showBar_) Enqueue(nullptr, &text);
}

void ConsoleOutput::ClearBar() {
  const std::string none;
  Enqueue(nullptr, &none);
}

int ConsoleOutput::Columns() const { return showBar_ ? TerminalColumns(stream_) : 0; }

void ConsoleOutput::Enqueue(const std::string* line, const std::string* bar, bool replaceable) {
  {
    std::lock_guard lock(mutex_);
    if (line != nullptr && replaceable && lastIsReplaceable_ && !lines_.empty()) {
      lines_.back() = Printable(*line);
    } else if (line != nullptr && lines_.size() >= kMaxQueuedLines) {
      ++droppedLines_;
    } else if (line != nullptr) {
      lines_.push_back(Printable(*line));
    }
    if (line != nullptr) lastIsReplaceable_ = replaceable;
    if (bar != nullptr && *bar != bar_) {
      bar_ = PrintableLines(*bar);
      barChanged_ = true;
    }
  }
  work_.notify_one();
}

void ConsoleOutput::WriteLoop() {
  // Signals are for the signal watcher's thread; a default action here would end the process.
  BlockSignalsInThisThread();
  std::string onScreen;  // the bar as last written
  std::unique_lock lock(mutex_);
  for (;;) {
    work_.wait(lock, [this] { return closing_ || barChanged_ || !lines_.empty(); });
    if (lines_.empty() && !barChanged_) return;  // closing, and everything written
    std::deque<std::string> lines;
    lines.swap(lines_);
    lastIsReplaceable_ = false;
    const size_t dropped = std::exchange(droppedLines_, 0);
    const std::string bar = bar_;
    barChanged_ = false;
    lock.unlock();
    if (!onScreen.empty()) EraseBar(stream_, onScreen, escapes_);
    for (const auto& line : lines) {
      std::fputs(line.c_str(), stream_);
      std::fputc('\n', stream_);
    }
    if (dropped > 0) std::fprintf(stream_, "(%zu lines not shown: output fell behind)\n", dropped);
    std::fputs(bar.c_str(), stream_);
    std::fflush(stream_);
    onScreen = bar;
    lock.lock();
  }
}

}  // namespace kestal::cli

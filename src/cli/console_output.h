#pragma once
// One output stream of the transfer verbs: whole lines (status texts, traces, JSON events) and,
// on a terminal, a progress bar (or a table) kept below them and redrawn in place. Called from the
// loop thread; a thread of its own does the writing, so a reader that stops reading (a pager,
// Ctrl-S, a full pipe) never holds up the loop and the worker waiting on it. Lines are written
// in order; bars that could not be drawn in time give way to the newest, and so do progress
// events. Control characters and stray bytes in what is printed are shown as escapes.
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

namespace kestal::cli {

class ConsoleOutput {
 public:
  // `showBar`: the stream is a terminal, so carriage returns redraw a line.
  ConsoleOutput(std::FILE* stream, bool showBar);
  // Writes what is still queued, then ends the writer.
  ~ConsoleOutput();
  ConsoleOutput(const ConsoleOutput&) = delete;
  ConsoleOutput& operator=(const ConsoleOutput&) = delete;

  // Prints a line of its own; a bar on screen is taken down first and redrawn after it.
  void Line(const std::string& text);
  // A line that stands for the state of things (a progress event): while it waits to be
  // written, the next such line takes its place, so a reader that falls behind gets the latest.
  void StateLine(const std::string& text);
  // Draws or redraws the bar (nothing when bars are off). A bar of several lines (a table)
  // is redrawn in place as a whole (where the terminal takes escape sequences); each line must
  // fit the terminal's width.
  void Bar(const std::string& text);
  // Takes the bar off the screen for good.
  void ClearBar();
  bool ShowsBar() const { return showBar_; }
  // The terminal's width in columns; 0 when unknown.
  int Columns() const;

 private:
  void Enqueue(const std::string* line, const std::string* bar, bool replaceable = false);
  void WriteLoop();

  std::FILE* stream_;
  const bool showBar_;
  // The terminal takes escape sequences; without them a bar of one line is blanked over.
  const bool escapes_;
  std::mutex mutex_;
  std::condition_variable work_;
  std::deque<std::string> lines_;  // queued, not yet written
  std::string bar_;                // the bar as it should be on screen, empty when none
  bool barChanged_ = false;
  bool lastIsReplaceable_ = false;  // the newest queued line is a state line
  size_t droppedLines_ = 0;         // lines given up while the queue was full
  bool closing_ = false;
  std::thread writer_;  // last: started once the members above exist
};

}  // namespace kestal::cli

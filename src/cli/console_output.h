#pragma once
// The transfer verbs' stderr: whole lines for status texts and traces, and on a terminal one
// progress bar line kept below them and redrawn in place. Used from the loop thread only.
#include <cstdio>
#include <string>

namespace kestal::cli {

class ConsoleOutput {
 public:
  // `showBar`: the stream is a terminal, so carriage returns redraw a line.
  ConsoleOutput(std::FILE* stream, bool showBar);

  // Prints a line of its own; a bar on screen is taken down first and redrawn after it.
  void Line(const std::string& text);
  // Draws or redraws the bar (nothing when bars are off).
  void Bar(const std::string& text);
  // Takes the bar off the screen for good.
  void ClearBar();
  bool ShowsBar() const { return showBar_; }

 private:
  void EraseBar();

  std::FILE* stream_;
  bool showBar_;
  std::string bar_;  // the bar on screen, empty when none
};

}  // namespace kestal::cli

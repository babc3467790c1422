#include "ports/natural_order.h"

#include <cstddef>

namespace kestal {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::string_view TakeRun(std::string_view text, std::size_t& pos) {
  const std::size_t start = pos;
  const bool digits = IsDigit(text[pos]);
  while (pos < text.size() && IsDigit(text[pos]) == digits) ++pos;
  return text.substr(start, pos - start);
}

// Numeric comparison of two digit runs of any length, without overflow.
int CompareNumbers(std::string_view a, std::string_view b) {
  while (a.size() > 1 && a.front() == '0') a.remove_prefix(1);
  while (b.size() > 1 && b.front() == '0') b.remove_prefix(1);
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  return a.compare(b);
}

}  // namespace

bool NaturalLess(std::string_view a, std::string_view b) {
  std::size_t i = 0;
  std::size_t j = 0;
  while (i < a.size() && j < b.size()) {
    const bool bothNumbers = IsDigit(a[i]) && IsDigit(b[j]);
    const std::string_view runA = TakeRun(a, i);
    const std::string_view runB = TakeRun(b, j);
    const int order = bothNumbers ? CompareNumbers(runA, runB) : runA.compare(runB);
    if (order != 0) return order < 0;
  }
  if ((i < a.size()) != (j < b.size())) return j < b.size();  // the shorter name comes first
  return a < b;
}

}  // namespace kestal

#pragma once
// The one assertion of the Windows test programs (the MinGW build has no GoogleTest): a
// failed check prints what and where, and the program's exit status is the number of
// failures.
#include <cstdio>
#include <string>

namespace kestal::test {

inline int& Failures() {
  static int count = 0;
  return count;
}

inline bool Check(bool ok, const char* what, const std::string& detail, const char* file,
                  int line) {
  if (ok) return true;
  ++Failures();
  std::fprintf(stderr, "%s:%d: FAILED %s%s%s\n", file, line, what, detail.empty() ? "" : ": ",
               detail.c_str());
  std::fflush(stderr);
  return false;
}

}  // namespace kestal::test

#define CHECK(condition) ::kestal::test::Check((condition), #condition, "", __FILE__, __LINE__)
#define CHECK_MSG(condition, detail) \
  ::kestal::test::Check((condition), #condition, (detail), __FILE__, __LINE__)

#pragma once
// Whether what a worker's last note put on the window (the status line, or the progress) is still
// shown unchanged: kept by the controller on the window thread, read by a NoteShortcut on the
// worker thread.
#include <atomic>
#include <cstdint>

namespace kestal {

class ShownByNote {
 public:
  // Window thread: what this covers may have changed.
  void Changed() { m_changes.fetch_add(1); }
  // Window thread, right after a worker's note has been handled and shown.
  void NoteShown() { m_noteShownAt.store(m_changes.load()); }

  // Worker thread: a note is on its way; until it has been handled, none counts as shown.
  void NoteOnItsWay() { m_noteShownAt.store(kNone); }
  // Worker thread: the window still shows what the last handled note put there.
  bool UnchangedSinceNote() const { return m_noteShownAt.load() == m_changes.load(); }

 private:
  static constexpr uint64_t kNone = UINT64_MAX;
  std::atomic<uint64_t> m_changes{0};
  std::atomic<uint64_t> m_noteShownAt{kNone};
};

}  // namespace kestal

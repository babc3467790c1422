#include "transfer/note_shortcut.h"

namespace kestal {

void NoteShortcut::NotifyStatus(std::unique_ptr<StatusNote> note) {
  if (note && note->nDisplayTime == -1 && note->szText == m_lastText &&
      m_job.m_shownStatus.UnchangedSinceNote()) {
    return;  // the note is freed here, as the window would have freed it
  }
  m_lastText = note ? note->szText : "";
  m_job.m_shownStatus.NoteOnItsWay();
  m_window.NotifyStatus(std::move(note));
}

void NoteShortcut::NotifyProgress(int percent) {
  if (percent == m_lastPercent && m_job.m_shownProgress.UnchangedSinceNote()) return;
  m_lastPercent = percent;
  m_job.m_shownProgress.NoteOnItsWay();
  m_window.NotifyProgress(percent);
}

}  // namespace kestal

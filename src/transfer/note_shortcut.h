#pragma once
// A worker sends "Downloading Processing..." and its progress with every block. Handing each note
// to the window thread and waiting until it has been handled costs a wake-up on each side, and the
// status note lies on the path of every block. When the window still shows exactly what the same
// note put there last time (the text, until replaced; the same percentage), handling it again
// changes nothing the user sees: it stops no countdown and sets the same values into controls that
// already show them. NoteShortcut passes a worker's notifications on to the front end and leaves
// exactly those notes out.
#include <memory>
#include <string>

#include "transfer/transfer_job.h"

namespace kestal {

class NoteShortcut : public TransferNotify {
 public:
  // `window` is the front end's own notification path.
  NoteShortcut(TransferNotify& window, TransferJob& job) : m_window(window), m_job(job) {}

  void NotifyStatus(std::unique_ptr<StatusNote> note) override;
  void NotifyProgress(int percent) override;
  void NotifyDone(int completed) override { m_window.NotifyDone(completed); }
  void NotifyWorkerExit(bool completed) override { m_window.NotifyWorkerExit(completed); }

 private:
  TransferNotify& m_window;
  TransferJob& m_job;
  // Of the last notes passed on; used by the worker thread only (one worker at a time).
  std::string m_lastText;
  int m_lastPercent = -1;
};

}  // namespace kestal

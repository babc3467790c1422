#pragma once
// The state a front end shares with a transfer worker, and the three synchronous notifications
// a worker sends back to the front end's window thread.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "transfer/shown_by_note.h"

namespace kestal {

class Link;

constexpr int MODE_SOFTWARE = 0;  // "Software"
constexpr int MODE_CHANNELS = 1;  // "Channels"
constexpr int DIR_TO_RECEIVER = 0;  // "To Reciever"
constexpr int DIR_TO_COMPUTER = 1;  // "To Computer"

// A status text for the status line. nDisplayTime -1: until replaced; N >= 0: for N x 20
// status timer ticks, then the line is cleared.
struct StatusNote {
  int32_t nDisplayTime = -1;
  char szText[52] = {};  // NUL-terminated, at most 51 characters
};

// Builds a note; longer texts are cut to 51 characters.
std::unique_ptr<StatusNote> MakeStatusNote(int32_t displayTime, const std::string& text);

// The front end's side of the notifications. Each call is made on the worker thread and must
// return only after the front end's window thread has handled it (in order, completely).
class TransferNotify {
 public:
  virtual ~TransferNotify() = default;
  // WM_TRANSFER_STATUS: ownership of the note passes to the front end.
  virtual void NotifyStatus(std::unique_ptr<StatusNote> note) = 0;
  // WM_TRANSFER_PROGRESS: percent done, 0 to 100.
  virtual void NotifyProgress(int percent) = 0;
  // WM_TRANSFER_DONE: the worker has finished its part; `completed` 1 after a completed
  // exchange, 0 after every other end.
  virtual void NotifyDone(int completed) = 0;
  // Made by the controller's thread wrapper after the worker procedure has returned and
  // released everything; the thread ends right after it. Need not be synchronous.
  // `completed` is true only for a transfer that finished successfully.
  virtual void NotifyWorkerExit(bool completed) = 0;
};

// Status texts of the workers and the controller.
namespace text {
constexpr const char* kDownloading = "Downloading Processing...";
constexpr const char* kUploading = "Uploading...";
constexpr const char* kComplete = "Transfer complete !";
constexpr const char* kFileOpenError = "Error : File open error.";
constexpr const char* kFileSizeOver = "Error : File size is over.";
constexpr const char* kPackagingError = "Error : Packaging error.";
constexpr const char* kOutOfRange = "Error : .....";
constexpr const char* kReadingFail = "Error : Reading fail.";
constexpr const char* kPortDisconnected = "Error : Port disconnected.";
constexpr const char* kCommunicationError = "Communication error.";
constexpr const char* kWritingError = "Writing error %d";
constexpr const char* kSelectFile = "Please Select File !";
constexpr const char* kOpenPortFailed = "Open port failed!";
constexpr const char* kWaiting = "Waiting For Request. Reset SetTop Box.";
constexpr const char* kExternalError = "External Error Occurred!";
constexpr const char* kInterrupted = "Interrupted by user!";
constexpr const char* kIdle = "Kestal Vantro Manager.";
}  // namespace text

// Filled by the front end before a worker starts; the worker gets a reference to it.
// Flags and counters are written by one thread and read by the other, hence atomic.
struct TransferJob {
  TransferNotify* m_hNotifyWnd = nullptr;
  std::string m_strFilePath;  // not changed while a worker runs
  std::atomic<int> m_nMode{-1};
  std::atomic<int> m_nDirection{-1};
  std::atomic<int> m_nFileSize{0};
  std::atomic<int> m_bRunning{0};
  std::atomic<int> m_bTransferActive{0};
  std::atomic<int> m_bCommandLine{0};
  std::atomic<int> m_bClosing{0};
  std::atomic<int> m_nWatchdog{-1};
  std::atomic<int> m_bWatchdogTripped{0};
  Link* m_pLink = nullptr;
  // Whether the status line and the progress changed since a worker's note set them
  // (NoteShortcut).
  ShownByNote m_shownStatus;
  ShownByNote m_shownProgress;
  // Where the channel packer's trace goes ("." per block); empty: nowhere. Set by the front
  // end before a worker starts, so a command line's machine-readable output stays clean.
  std::function<void(const std::string&)> m_packTrace;
};

}  // namespace kestal

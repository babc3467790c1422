#include "e2e/fault_support.h"

#include <fcntl.h>
#include <malloc.h>
#include <stdlib.h>
#include <poll.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "link/frame_codec.h"
#include "support/raw_pty.h"

namespace kestal::e2e {

namespace {
// Run straight from the build tree, the binary still finds the emulator and kestal-cli.
[[maybe_unused]] const bool kBinDirKnown = ::setenv("KESTAL_BIN_DIR", KESTAL_BINARY_DIR, 0) == 0;
}  // namespace

// ---- FaultWindow -------------------------------------------------------------------------

void FaultWindow::RefreshControls() {
  const std::string& status = m_controller->m_strStatus;
  if (m_statuses.empty() || m_statuses.back() != status) {
    m_statuses.push_back(status);
    m_statusTimes.push_back(std::chrono::steady_clock::now());
  }
}

void FaultWindow::ReadControls() {
  m_job.m_strFilePath = path;
  m_job.m_nMode = mode;
  m_job.m_nDirection = direction;
}

void FaultWindow::NotifyStatus(std::unique_ptr<StatusNote> note) {
  std::shared_ptr<StatusNote> shared(std::move(note));
  Send([this, shared] { m_controller->OnTransferStatus(std::make_unique<StatusNote>(*shared)); },
       true);
}

void FaultWindow::NotifyProgress(int percent) {
  Send([this, percent] { m_controller->OnTransferProgress(percent); }, true);
}

void FaultWindow::NotifyDone(int completed) {
  Send([this, completed] { m_controller->OnTransferDone(completed); }, true);
}

void FaultWindow::NotifyWorkerExit(bool completed) {
  Send(
      [this, completed] {
        ++m_exits;
        m_lastExitCompleted = completed;
        m_controller->OnWorkerExit();
      },
      false);
}

void FaultWindow::Send(std::function<void()> handler, bool synchronous) {
  std::unique_lock lock(m_mutex);
  if (m_closed) return;
  auto message = std::make_shared<Message>();
  message->handler = std::move(handler);
  message->synchronous = synchronous;
  m_queue.push_back(message);
  m_changed.notify_all();
  if (synchronous) m_changed.wait(lock, [&] { return message->handled || m_closed; });
}

bool FaultWindow::PumpOne(Millis wait) {
  std::shared_ptr<Message> message;
  {
    std::unique_lock lock(m_mutex);
    if (!m_changed.wait_for(lock, wait, [this] { return !m_queue.empty(); })) return false;
    message = m_queue.front();
    m_queue.pop_front();
  }
  message->handler();
  ++m_handled;
  std::lock_guard lock(m_mutex);
  message->handled = true;
  m_changed.notify_all();
  return true;
}

bool FaultWindow::PumpUntilWorkerExit(Millis timeout) {
  const auto until = std::chrono::steady_clock::now() + timeout;
  const int exits = m_exits;
  while (m_exits == exits) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= until) return false;
    PumpOne(std::chrono::duration_cast<Millis>(until - now));
  }
  return true;
}

void FaultWindow::CloseWindow() {
  std::lock_guard lock(m_mutex);
  m_closed = true;
  m_queue.clear();
  m_changed.notify_all();
}

std::optional<std::chrono::steady_clock::time_point> FaultWindow::FirstShown(
    const std::string& text) const {
  for (size_t i = 0; i < m_statuses.size(); ++i) {
    if (m_statuses[i] == text) return m_statusTimes[i];
  }
  return std::nullopt;
}

std::string FaultWindow::StatusesJoined() const {
  std::string joined;
  for (const auto& status : m_statuses) joined += "[" + status + "] ";
  return joined;
}

// ---- InProcessTool -----------------------------------------------------------------------

InProcessTool::InProcessTool() : controller(std::make_unique<TransferController>(job, link, window)) {
  job.m_hNotifyWnd = &window;
  window.Attach(*controller);
}

InProcessTool::~InProcessTool() {
  window.CloseWindow();
  controller->OnClose();
  controller.reset();
}

void InProcessTool::Start(const std::string& device, const std::string& file, int mode,
                          int direction) {
  window.port = PortInfo{device, "faultport", "Fault port", 0, ""};
  window.path = file;
  window.mode = mode;
  window.direction = direction;
  controller->StartTransfer();
}

// ---- PtyPeer -----------------------------------------------------------------------------

PtyPeer::PtyPeer() {
  if (!testing::OpenRawPty(m_master, m_slave, m_device)) return;
  fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);
}

PtyPeer::~PtyPeer() { HangUp(); }

void PtyPeer::HangUp() {
  if (m_master >= 0) close(m_master);
  if (m_slave >= 0) close(m_slave);
  m_master = m_slave = -1;
}

bool PtyPeer::ReadSome(Millis timeout) {
  if (m_master < 0) return false;
  pollfd pfd{m_master, POLLIN, 0};
  if (poll(&pfd, 1, static_cast<int>(timeout.count())) <= 0) return false;
  uint8_t buffer[8192];
  const ssize_t n = read(m_master, buffer, sizeof buffer);
  if (n <= 0) return false;
  for (auto& frame : m_splitter.Feed(buffer, static_cast<size_t>(n))) {
    m_frames.push_back(std::move(frame));
  }
  return true;
}

bool PtyPeer::WaitForBurst(Millis timeout) {
  const auto until = std::chrono::steady_clock::now() + timeout;
  while (m_splitter.Loose().size() < sizeof WakeUpBurst) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= until) return false;
    ReadSome(std::chrono::duration_cast<Millis>(until - now));
  }
  return true;
}

void PtyPeer::Send(uint8_t sequence, uint8_t command, const std::vector<uint8_t>& payload) {
  SendRaw(kestal::testing::WireFrame(sequence, command, payload));
}

void PtyPeer::SendRaw(const std::vector<uint8_t>& bytes) {
  size_t done = 0;
  int idleRounds = 0;  // a tool that stopped reading for two seconds gets no more
  while (m_master >= 0 && done < bytes.size() && idleRounds < 40) {
    const ssize_t n = write(m_master, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      idleRounds = 0;
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) return;
    pollfd pfd{m_master, POLLOUT, 0};
    if (poll(&pfd, 1, 50) <= 0) ++idleRounds;
  }
}

std::optional<kestal::testing::SentFrame> PtyPeer::Receive(Millis timeout) {
  const auto until = std::chrono::steady_clock::now() + timeout;
  while (m_frames.empty()) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= until) return std::nullopt;
    ReadSome(std::chrono::duration_cast<Millis>(until - now));
  }
  auto frame = std::move(m_frames.front());
  m_frames.pop_front();
  return frame;
}

// ---- Process resources -------------------------------------------------------------------

int CountThreads() { return static_cast<int>(DirectoryEntries("/proc/self/task").size()); }

// Less the descriptor that lists them.
int CountOpenDescriptors() { return static_cast<int>(DirectoryEntries("/proc/self/fd").size()) - 1; }

size_t HeapInUse() { return mallinfo2().uordblks; }

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  auto seconds = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
  };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

long ResidentKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) {
      std::istringstream fields(line.substr(6));
      long kib = 0;
      fields >> kib;
      return kib;
    }
  }
  return -1;
}

std::vector<uint8_t> BlockRequest(uint16_t length, uint32_t offset) {
  std::vector<uint8_t> payload(6);
  PutBE16(payload.data(), length);
  PutBE32(payload.data() + 2, offset);
  return payload;
}

std::vector<uint8_t> Be32(uint32_t value) {
  std::vector<uint8_t> payload(4);
  PutBE32(payload.data(), value);
  return payload;
}

std::vector<std::string> DirectoryEntries(const std::string& directory) {
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(directory, error)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace kestal::e2e

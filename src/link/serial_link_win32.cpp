// SerialLink on Windows: the same link as the termios one, over a COM port opened for
// overlapped I/O. The reader waits for one byte, then takes whatever the driver has queued
// behind it; a stop event releases the reader and any write in progress when the link closes.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <system_error>

#include "common/utf16.h"
#include "link/serial_link.h"

namespace kestal {

namespace {

// "COM12" needs the device namespace prefix (\\.\COM12); a name that starts with two
// backslashes has one already (\\.\COM12, \\?\COM12, a device interface's path).
std::wstring DevicePathOf(const std::string& path) {
  const std::wstring wide = Utf8ToWide(path);
  return wide.starts_with(L"\\\\") ? wide : L"\\\\.\\" + wide;
}

OpenResult ResultOf(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
      return OpenResult::NoSuchDevice;
    case ERROR_ACCESS_DENIED:  // what a COM port held by another program answers
    case ERROR_SHARING_VIOLATION:
      return OpenResult::Busy;
    default:
      return OpenResult::Failed;
  }
}

// Raw 8N1 without flow control of either kind: receivers use three-wire cables, and XON and
// XOFF are ordinary data bytes here.
bool ConfigureRaw8N1(HANDLE port, uint32_t baud) {
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!GetCommState(port, &dcb)) return false;
  dcb.BaudRate = baud;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  dcb.fBinary = TRUE;
  dcb.fParity = FALSE;
  dcb.fOutxCtsFlow = FALSE;
  dcb.fOutxDsrFlow = FALSE;
  dcb.fDsrSensitivity = FALSE;
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  dcb.fRtsControl = RTS_CONTROL_ENABLE;
  dcb.fOutX = FALSE;
  dcb.fInX = FALSE;
  dcb.fErrorChar = FALSE;
  dcb.fNull = FALSE;
  dcb.fAbortOnError = FALSE;
  return SetCommState(port, &dcb) != 0;
}

// All zeros: a read waits until every byte asked for has come, a write until it is handed over.
// The reader asks for one byte and then only for what the driver reports queued, so neither
// ever waits longer than the line makes it.
bool SetBlockingTimeouts(HANDLE port) {
  COMMTIMEOUTS timeouts{};
  return SetCommTimeouts(port, &timeouts) != 0;
}

// One overlapped transfer on `port`, released early by `stop`. Returns false when the device
// refused or went away, or the wait itself failed (the link is then as good as gone); sets
// `stopped` when the stop event ended the wait first.
bool Transfer(HANDLE port, HANDLE stop, bool write, void* data, DWORD size, DWORD& done,
              bool& stopped) {
  OVERLAPPED overlapped{};
  overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (overlapped.hEvent == nullptr) return false;
  const BOOL started = write ? WriteFile(port, data, size, nullptr, &overlapped)
                             : ReadFile(port, data, size, nullptr, &overlapped);
  bool ok = started != 0 || GetLastError() == ERROR_IO_PENDING;
  bool waitFailed = false;
  stopped = false;
  if (ok && started == 0) {
    const HANDLE events[2] = {overlapped.hEvent, stop};
    const DWORD woken = WaitForMultipleObjects(2, events, FALSE, INFINITE);
    if (woken != WAIT_OBJECT_0) {
      CancelIoEx(port, &overlapped);
      stopped = woken == WAIT_OBJECT_0 + 1;
      waitFailed = !stopped;
    }
  }
  done = 0;
  // Always collected, even after a cancel: the kernel owns `overlapped` until it completes.
  if (ok) ok = GetOverlappedResult(port, &overlapped, &done, TRUE) != 0;
  CloseHandle(overlapped.hEvent);
  return (ok || stopped) && !waitFailed;
}

}  // namespace

// One open of the port, shared by the link, its reader and any write in progress.
struct SerialLink::OpenPort {
  HANDLE handle = INVALID_HANDLE_VALUE;
  // Manual reset, set once the link closes: releases the reader and writers.
  HANDLE stopEvent = nullptr;
  // Writes in progress. Closing discards pending output only when it aborts one of them.
  std::atomic<int> writers{0};

  OpenPort() = default;
  OpenPort(const OpenPort&) = delete;
  OpenPort& operator=(const OpenPort&) = delete;
  ~OpenPort() {
    if (handle != INVALID_HANDLE_VALUE) {
      CancelIoEx(handle, nullptr);
      CloseHandle(handle);
    }
    if (stopEvent != nullptr) CloseHandle(stopEvent);
  }
};

OpenResult SerialLink::OpenLink(const std::string& devicePath, uint32_t baud) {
  BeginOpen();

  auto port = std::make_shared<OpenPort>();
  // Share mode 0: nobody else, this process included, opens the port while we hold it.
  port->handle = CreateFileW(DevicePathOf(devicePath).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                             nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  if (port->handle == INVALID_HANDLE_VALUE) return ResultOf(GetLastError());
  DCB probe{};
  probe.DCBlength = sizeof probe;
  if (!GetCommState(port->handle, &probe)) return OpenResult::NotSerial;
  if (!ConfigureRaw8N1(port->handle, baud) || !SetBlockingTimeouts(port->handle)) {
    return OpenResult::Failed;
  }
  PurgeComm(port->handle, PURGE_RXCLEAR | PURGE_TXCLEAR);
  port->stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (port->stopEvent == nullptr) {
    // Without its stop event the reader could never be stopped: refuse the open.
    Notice("Error while creating ThreadWatchComm, " + friendlyName_);
    return OpenResult::Failed;
  }

  return StartReader(std::move(port));
}

void SerialLink::CloseLink() {
  open_.store(false, std::memory_order_release);
  std::shared_ptr<OpenPort> port;
  {
    std::lock_guard lock(portMutex_);
    port.swap(port_);
  }
  if (port) SetEvent(port->stopEvent);
  JoinReader();
  if (port) {
    const bool writeAborted = port->writers.load(std::memory_order_acquire) > 0;
    PurgeComm(port->handle, writeAborted ? PURGE_RXCLEAR | PURGE_TXCLEAR : PURGE_RXCLEAR);
  }
  SignalData();
}

SendResult SerialLink::SendBytes(const uint8_t* data, size_t count) {
  const std::shared_ptr<OpenPort> port = CurrentPort();
  if (!port) return SendResult::Closed;
  if (tap_ != nullptr) tap_->Sent(data, count);
  port->writers.fetch_add(1, std::memory_order_acq_rel);
  const SendResult result = WriteAll(*port, data, count);
  port->writers.fetch_sub(1, std::memory_order_acq_rel);
  return result;
}

SendResult SerialLink::WriteAll(const OpenPort& port, const uint8_t* data, size_t total) {
  size_t written = 0;
  while (written < total) {
    const auto size = static_cast<DWORD>(std::min<size_t>(total - written, 1U << 20));
    DWORD done = 0;
    bool stopped = false;
    void* bytes = const_cast<uint8_t*>(data + written);  // WriteFile only reads them
    if (!Transfer(port.handle, port.stopEvent, true, bytes, size, done, stopped)) {
      return SendResult::Failed;
    }
    if (stopped) return SendResult::Closed;
    if (done == 0) return SendResult::Failed;  // a driver that takes nothing never will
    written += done;
  }
  return SendResult::Ok;
}

void SerialLink::ReadPort(std::shared_ptr<OpenPort> port) {
  SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_ABOVE_NORMAL);
  uint8_t chunk[kReadChunk];
  while (IsOpen()) {
    DWORD got = 0;
    bool stopped = false;
    if (!Transfer(port->handle, port->stopEvent, false, chunk, 1, got, stopped)) break;
    if (stopped) return;  // CloseLink
    // With no timeouts a one-byte read ends with its byte; ending without one means the
    // device is gone (an adapter pulled out).
    if (got == 0) break;
    DWORD errors = 0;
    COMSTAT status{};
    if (!ClearCommError(port->handle, &errors, &status)) break;
    const auto queued = static_cast<DWORD>(std::min<size_t>(status.cbInQue, kReadChunk - 1));
    DWORD more = 0;
    if (queued > 0 &&
        !Transfer(port->handle, port->stopEvent, false, chunk + 1, queued, more, stopped)) {
      break;
    }
    QueueChunk(chunk, 1 + more);
    if (stopped) return;
  }
  if (IsOpen()) MarkHungUp();
}

}  // namespace kestal

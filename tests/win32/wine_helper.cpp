// What scripts/test-windows.sh needs of Windows beside kestal-cli.exe, done as Windows does it:
//   close PROGRAM        the console closes: PROGRAM's handlers get CTRL_CLOSE_EVENT on a thread
//                        of their own, and the process is ended once they return
//   hold FILE            FILE is held open (as virus scanners do) until the staged file beside
//                        it has been closed by its writer, and 200 ms longer
//   console COMMAND...   COMMAND runs on this console, which then shows what it printed: each
//                        line on the screen is printed here; the exit status is COMMAND's
// Exit status 0, or 1 when the step could not be done.
#include <windows.h>
// After windows.h, which they need.
#include <tlhelp32.h>

#include <cstdio>
#include <string>

#include "common/utf16.h"

namespace {

using kestal::WideToUtf8;

DWORD ProcessNamed(const std::wstring& program) {
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  DWORD id = 0;
  for (BOOL more = Process32FirstW(snapshot, &entry); more && id == 0;
       more = Process32NextW(snapshot, &entry)) {
    if (lstrcmpiW(entry.szExeFile, program.c_str()) == 0) id = entry.th32ProcessID;
  }
  CloseHandle(snapshot);
  return id;
}

// Suspends (or resumes) every thread of the process `id`; returns how many it has.
int ForEachThread(DWORD id, bool suspend) {
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  int count = 0;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID != id) continue;
    ++count;
    const HANDLE thread = OpenThread(THREAD_SUSPEND_RESUME, FALSE, entry.th32ThreadID);
    if (thread == nullptr) continue;
    suspend ? SuspendThread(thread) : ResumeThread(thread);
    CloseHandle(thread);
  }
  CloseHandle(snapshot);
  return count;
}

int Close(const std::wstring& program) {
  const DWORD id = ProcessNamed(program);
  const HANDLE process = OpenProcess(PROCESS_ALL_ACCESS, FALSE, id);
  // The system's own routine that runs a process's console handlers (through void (*)(): a
  // FARPROC is cast to what it is).
  const auto routine = reinterpret_cast<LPTHREAD_START_ROUTINE>(reinterpret_cast<void (*)()>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "CtrlRoutine")));
  if (process == nullptr || routine == nullptr) return 1;
  // Windows ends the process the moment its handlers return. Here the rest of the process
  // stands still while they run, so a handler that returns at once is caught before the
  // program could clean up behind it.
  ForEachThread(id, true);
  const HANDLE handlers = CreateRemoteThread(process, nullptr, 0, routine,
                                             reinterpret_cast<void*>(CTRL_CLOSE_EVENT), 0, nullptr);
  const bool returned = handlers && WaitForSingleObject(handlers, 2000) == WAIT_OBJECT_0;
  ForEachThread(id, false);
  if (!handlers) return 1;
  // Held, the handlers have Windows' limit (5 s; 20 s here, for a busy machine). A handler
  // thread ended by the process's own exit, which leaves the process its last thread, did not
  // return.
  if (!returned) WaitForSingleObject(handlers, 20000);
  if (WaitForSingleObject(process, 0) == WAIT_TIMEOUT &&
      (returned || ForEachThread(id, false) > 1)) {
    TerminateProcess(process, 0xC000013A);
  }
  return 0;
}

int Hold(const std::wstring& file) {
  const HANDLE held = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, 0, nullptr);
  if (held == INVALID_HANDLE_VALUE) return 1;
  std::puts("holding");
  std::fflush(stdout);
  const size_t slash = file.find_last_of(L"\\/") + 1;
  const std::wstring folder = file.substr(0, slash);
  const std::wstring staged = folder + L"." + file.substr(slash) + L".*";
  for (int poll = 0; poll < 6000; ++poll, Sleep(10)) {
    WIN32_FIND_DATAW found{};
    const HANDLE search = FindFirstFileW(staged.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) continue;
    FindClose(search);
    // Opened without sharing only once its writer has closed it.
    const HANDLE closed = CreateFileW((folder + found.cFileName).c_str(), GENERIC_READ, 0, nullptr,
                                      OPEN_EXISTING, 0, nullptr);
    if (closed == INVALID_HANDLE_VALUE) continue;
    Sleep(200);
    CloseHandle(closed);
    CloseHandle(held);
    return 0;
  }
  return 1;
}

int Console(std::wstring command) {
  SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
  const HANDLE screen =
      CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  &inherited, OPEN_EXISTING, 0, nullptr);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = startup.hStdError = screen;
  PROCESS_INFORMATION child{};
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                      &startup, &child))
    return 1;
  WaitForSingleObject(child.hProcess, INFINITE);
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!GetConsoleScreenBufferInfo(screen, &info)) return 1;
  for (SHORT row = 0; row <= info.dwCursorPosition.Y; ++row) {
    std::wstring line(static_cast<size_t>(info.dwSize.X), L' ');
    DWORD got = 0;
    ReadConsoleOutputCharacterW(screen, line.data(), info.dwSize.X, COORD{0, row}, &got);
    line.erase(line.find_last_not_of(L' ') + 1);
    std::printf("%s\n", WideToUtf8(line).c_str());
  }
  DWORD status = 1;
  GetExitCodeProcess(child.hProcess, &status);
  return static_cast<int>(status);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring step = argc > 2 ? argv[1] : L"";
  if (step == L"close") return Close(argv[2]);
  if (step == L"hold") return Hold(argv[2]);
  if (step == L"console") {
    const std::wstring line = GetCommandLineW();
    return Console(line.substr(line.find(L"console ") + 8));
  }
  std::fputs("usage: kestal-wine-helper close PROGRAM | hold FILE | console COMMAND...\n", stderr);
  return 2;
}

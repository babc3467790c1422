#pragma once
// Helpers for the window's tests: a private settings and runtime home per test, a window whose
// boxes and file dialogs are recorded instead of shown, and ways to act on its controls.
#include <QComboBox>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ui/main_dialog.h"

namespace kestal::test {

// Points XDG_CONFIG_HOME and XDG_RUNTIME_DIR at fresh private directories for its lifetime.
class TestHome {
 public:
  TestHome();
  ~TestHome();
  QString ConfigHome() const;
  QString SettingsFile() const;  // where the window's settings live
  QString Path(const QString& name) const { return m_dir.filePath(name); }

 private:
  QTemporaryDir m_dir;
  QByteArray m_oldConfig, m_oldRuntime;
};

struct Message {
  QString text;
  QString caption;
};

// A main window that records its boxes, file dialogs and About requests.
class RecordingDialog : public MainDialog {
 public:
  explicit RecordingDialog(Discovery discovery, const std::string& commandLine = {})
      : MainDialog(commandLine, std::move(discovery)) {}

  std::vector<Message> messages;
  QStringList notices;
  std::vector<FileDialogRequest> fileRequests;
  std::optional<QString> fileAnswer;  // what the next file dialog returns (nullopt: cancel)
  int aboutBoxes = 0;

 protected:
  void ShowMessage(const QString& text, const QString& caption) override {
    messages.push_back({text, caption});
  }
  void ShowNotice(const QString& text) override { notices << text; }
  std::optional<QString> AskFileName(const FileDialogRequest& request) override {
    fileRequests.push_back(request);
    return fileAnswer;
  }
  void RunAboutBox() override { ++aboutBoxes; }
};

// Discovery that finds ports with these names; device paths point nowhere unless given.
MainDialog::Discovery FakePorts(const QStringList& names, const QStringList& devices = {});

template <typename Widget>
Widget* Ctl(QWidget* window, int id) {
  return window->findChild<Widget*>(QStringLiteral("ctl%1").arg(id));
}

// Chooses a list entry as the user does (the list's `activated` runs the handler).
void Choose(QComboBox* list, int entry);

// Writes the window's settings file directly.
void WriteSettings(const QString& content);
QString ReadSettings();

// Drops files on the window; true when it took them.
bool DropFiles(QWidget* window, const QStringList& paths);

QString WriteFile(const QString& path, const QByteArray& data);

// A running kestal-sim; stops it when destroyed.
class Simulator {
 public:
  explicit Simulator(const QStringList& arguments);
  ~Simulator();
  bool Started() const { return !m_devicePath.isEmpty(); }
  QString DevicePath() const { return m_devicePath; }
  QString PortName() const { return m_name; }      // friendly name of its virtual port
  // Waits for the simulator to end; its exit status, -1 when it did not end in time.
  int Finish(int timeoutMs);
  QString Errors();

 private:
  QProcess m_process;
  QString m_devicePath;
  QString m_name;
};

QString BinDir();
QString ExamplesDir();

}  // namespace kestal::test

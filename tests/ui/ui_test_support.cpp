#include "ui_test_support.h"

#include <QApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QMimeData>
#include <QUrl>
#include <unistd.h>

#include "ui/settings_key.h"
#include "ui/settings_names.h"

namespace kestal::test {

TestHome::TestHome()
    : m_oldConfig(qgetenv("XDG_CONFIG_HOME")), m_oldRuntime(qgetenv("XDG_RUNTIME_DIR")) {
  QDir(m_dir.path()).mkpath(QStringLiteral("config"));
  QDir(m_dir.path()).mkpath(QStringLiteral("runtime"));
  QFile::setPermissions(m_dir.filePath(QStringLiteral("runtime")),
                        QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  qputenv("XDG_CONFIG_HOME", ConfigHome().toLocal8Bit());
  qputenv("XDG_RUNTIME_DIR", m_dir.filePath(QStringLiteral("runtime")).toLocal8Bit());
}

TestHome::~TestHome() {
  qputenv("XDG_CONFIG_HOME", m_oldConfig);
  qputenv("XDG_RUNTIME_DIR", m_oldRuntime);
}

QString TestHome::ConfigHome() const { return m_dir.filePath(QStringLiteral("config")); }

QString TestHome::SettingsFile() const {
  return QString::fromStdString(SettingsKey::KeyFile(SettingsRoot::CurrentUser, SETTINGS_PATH));
}

MainDialog::Discovery FakePorts(const QStringList& names, const QStringList& devices) {
  return [names, devices](PortList& list) {
    list.clear();
    for (qsizetype i = 0; i < names.size(); ++i) {
      PortInfo port;
      port.m_strFriendlyName = names[i].toStdString();
      port.m_strDevicePath = i < devices.size() ? devices[i].toStdString()
                                                : "/nonexistent/kestal-test-port" + std::to_string(i);
      list.push_back(port);
    }
  };
}

void Choose(QComboBox* list, int entry) {
  list->setCurrentIndex(entry);
  emit list->activated(entry);
}

void WriteSettings(const QString& content) {
  WriteFile(QString::fromStdString(SettingsKey::KeyFile(SettingsRoot::CurrentUser, SETTINGS_PATH)),
            content.toUtf8());
}

QString ReadSettings() {
  QFile in(QString::fromStdString(SettingsKey::KeyFile(SettingsRoot::CurrentUser, SETTINGS_PATH)));
  if (!in.open(QIODevice::ReadOnly)) return {};
  return QString::fromUtf8(in.readAll());
}

bool DropFiles(QWidget* window, const QStringList& paths) {
  QMimeData data;
  QList<QUrl> urls;
  for (const QString& path : paths) urls << QUrl::fromLocalFile(path);
  data.setUrls(urls);
  const QPoint where = window->rect().center();
  QDragEnterEvent enter(where, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(window, &enter);
  QDropEvent drop(QPointF(where), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(window, &drop);
  return enter.isAccepted() && drop.isAccepted();
}

QString WriteFile(const QString& path, const QByteArray& data) {
  QDir().mkpath(QFileInfo(path).absolutePath());
  QFile out(path);
  out.open(QIODevice::WriteOnly | QIODevice::Truncate);
  out.write(data);
  return path;
}

QString BinDir() { return qEnvironmentVariable("KESTAL_BIN_DIR"); }
QString ExamplesDir() { return QStringLiteral(KESTAL_SOURCE_DIR "/examples"); }

Simulator::Simulator(const QStringList& arguments) {
  static int count = 0;
  m_name = QStringLiteral("uitest-%1-%2").arg(getpid()).arg(++count);
  m_process.setProgram(BinDir() + QStringLiteral("/src/sim/kestal-sim"));
  m_process.setArguments(QStringList{QStringLiteral("--name"), m_name} + arguments);
  m_process.start();
  // The first line is the device path; by then the virtual port is announced.
  if (!m_process.waitForStarted(10000)) return;
  while (!m_process.canReadLine()) {
    if (!m_process.waitForReadyRead(10000)) return;
  }
  m_devicePath = QString::fromLocal8Bit(m_process.readLine()).trimmed();
  m_name = QStringLiteral("Virtual Port (%1)").arg(m_name);
}

Simulator::~Simulator() {
  if (m_process.state() != QProcess::NotRunning) {
    m_process.terminate();
    if (!m_process.waitForFinished(5000)) m_process.kill();
    m_process.waitForFinished(5000);
  }
}

int Simulator::Finish(int timeoutMs) {
  if (m_process.state() != QProcess::NotRunning && !m_process.waitForFinished(timeoutMs)) return -1;
  return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
}

QString Simulator::Errors() { return QString::fromLocal8Bit(m_process.readAllStandardError()); }

}  // namespace kestal::test

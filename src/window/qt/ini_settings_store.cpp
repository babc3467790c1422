#include "window/qt/ini_settings_store.h"

#include <fcntl.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStringList>

namespace kestal::window::qt {
namespace {

// A hand-written settings file is a few hundred bytes; anything this large is not ours.
constexpr qint64 kMaxFileSize = 1024 * 1024;

QString ConfigHome() {
  const QString home = qEnvironmentVariable("XDG_CONFIG_HOME");
  if (!home.isEmpty() && QDir::isAbsolutePath(home)) return home;
  return QDir::homePath() + QStringLiteral("/.config");
}

}  // namespace

QString IniSettingsStore::UserFile() {
  return ConfigHome() + QStringLiteral("/ostrel/pelmar.conf");
}

bool IniSettingsStore::Exists() const {
  const QFileInfo info(file_);
  return info.isFile() && info.isReadable() && info.size() <= kMaxFileSize;
}

std::string IniSettingsStore::Problem() const {
  const QFileInfo info(file_);
  if (!info.exists() || Exists()) return {};
  const std::string name = file_.toStdString();
  if (!info.isFile()) return "Settings: " + name + " is not a regular file; using defaults.";
  if (info.size() > kMaxFileSize) return "Settings: " + name + " is over 1 MB; using defaults.";
  return "Settings: cannot read " + name + "; using defaults.";
}

void IniSettingsStore::Create() {
  if (QFileInfo(file_).exists() || !QDir().mkpath(QFileInfo(file_).absolutePath())) return;
  // O_EXCL: never opens what appeared meanwhile (a FIFO there would block the window).
  const int fd = ::open(QFile::encodeName(file_).constData(),
                        O_WRONLY | O_CREAT | O_EXCL | O_NONBLOCK | O_CLOEXEC, 0666);
  if (fd >= 0) ::close(fd);
}

// Every value of an INI file is text; one QSettings reads as something else is not ours.
std::optional<QString> IniSettingsStore::Read(const std::string& name) const {
  if (!Exists()) return std::nullopt;
  const QSettings settings(file_, QSettings::IniFormat);
  const QString key = QString::fromStdString(name);
  if (settings.status() == QSettings::FormatError || !settings.contains(key)) return std::nullopt;
  const QVariant stored = settings.value(key);
  // An unquoted text with commas in a hand-edited file reads as a list: take it whole.
  if (stored.typeId() == QMetaType::QStringList)
    return stored.toStringList().join(QLatin1Char(','));
  if (stored.typeId() != QMetaType::QString) return std::nullopt;
  return stored.toString();
}

std::optional<std::string> IniSettingsStore::Text(const std::string& name) const {
  const std::optional<QString> text = Read(name);
  if (!text) return std::nullopt;
  return text->toStdString();
}

std::optional<int64_t> IniSettingsStore::Number(const std::string& name) const {
  const std::optional<QString> text = Read(name);
  if (!text) return std::nullopt;
  bool ok = false;
  const qlonglong number = text->trimmed().toLongLong(&ok);
  if (!ok) return std::nullopt;
  return number;
}

// A value that is already there is not written: the file is not rewritten for nothing.
void IniSettingsStore::Write(const std::string& name, const QVariant& value) {
  if (!Exists() || Read(name) == value.toString()) return;
  QSettings settings(file_, QSettings::IniFormat);
  settings.setValue(QString::fromStdString(name), value);
  settings.sync();
}

void IniSettingsStore::SetText(const std::string& name, const std::string& value) {
  Write(name, QString::fromStdString(value));
}

// Written as an unsigned number, as it always has been.
void IniSettingsStore::SetNumber(const std::string& name, uint32_t value) {
  Write(name, QVariant::fromValue(value));
}

}  // namespace kestal::window::qt

namespace kestal::window {

std::unique_ptr<SettingsStore> OpenUserSettings() {
  return std::make_unique<qt::IniSettingsStore>(qt::IniSettingsStore::UserFile());
}

}  // namespace kestal::window

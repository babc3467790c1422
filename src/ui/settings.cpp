#include "ui/settings.h"

#include <fcntl.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStringList>
#include <cstdint>
#include <limits>

#include "transfer/transfer_request.h"

namespace kestal::ui {
namespace {

constexpr const char* kPortKey = "port";
constexpr const char* kModeKey = "mode";
constexpr const char* kSoftwareFileKey = "softfile";
constexpr const char* kChannelsFileKey = "chfile";
// A hand-written settings file is a few hundred bytes; anything this large is not ours.
constexpr qint64 kMaxFileSize = 1024 * 1024;

const char* FileKeyFor(int mode) {
  if (mode == MODE_SOFTWARE) return kSoftwareFileKey;
  if (mode == MODE_CHANNELS) return kChannelsFileKey;
  return nullptr;
}

QString ConfigHome() {
  const QString home = qEnvironmentVariable("XDG_CONFIG_HOME");
  if (!home.isEmpty() && QDir::isAbsolutePath(home)) return home;
  return QDir::homePath() + QStringLiteral("/.config");
}

}  // namespace

Settings::Settings() : file_(ConfigHome() + QStringLiteral("/ostrel/pelmar.conf")) {}

bool Settings::Exists() const {
  const QFileInfo info(file_);
  return info.isFile() && info.isReadable() && info.size() <= kMaxFileSize;
}

std::string Settings::Problem() const {
  const QFileInfo info(file_);
  if (!info.exists() || Exists()) return {};
  const std::string name = file_.toStdString();
  if (!info.isFile()) return "Settings: " + name + " is not a regular file; using defaults.";
  if (info.size() > kMaxFileSize) return "Settings: " + name + " is over 1 MB; using defaults.";
  return "Settings: cannot read " + name + "; using defaults.";
}

void Settings::Create() const {
  if (QFileInfo(file_).exists() || !QDir().mkpath(QFileInfo(file_).absolutePath())) return;
  // O_EXCL: never opens what appeared meanwhile (a FIFO there would block the window).
  const int fd = ::open(QFile::encodeName(file_).constData(),
                        O_WRONLY | O_CREAT | O_EXCL | O_NONBLOCK | O_CLOEXEC, 0666);
  if (fd >= 0) ::close(fd);
}

std::optional<QString> Settings::Text(const char* key) const {
  if (!Exists()) return std::nullopt;
  const QSettings settings(file_, QSettings::IniFormat);
  const QString name = QString::fromLatin1(key);
  if (settings.status() == QSettings::FormatError || !settings.contains(name)) return std::nullopt;
  const QVariant stored = settings.value(name);
  // An unquoted text with commas in a hand-edited file reads as a list: take it whole.
  if (stored.typeId() == QMetaType::QStringList)
    return stored.toStringList().join(QLatin1Char(','));
  return stored.toString();
}

// A value that is already there is not written: the file is not rewritten for nothing.
void Settings::Write(const char* key, const QVariant& value) const {
  if (!Exists() || Text(key) == value.toString()) return;
  QSettings settings(file_, QSettings::IniFormat);
  settings.setValue(QString::fromLatin1(key), value);
  settings.sync();
}

std::string Settings::Port() const { return Text(kPortKey).value_or(QString()).toStdString(); }

void Settings::SetPort(const std::string& port) const {
  Write(kPortKey, QString::fromStdString(port));
}

std::optional<int> Settings::Mode() const {
  const std::optional<QString> text = Text(kModeKey);
  if (!text) return std::nullopt;
  bool ok = false;
  const qlonglong number = text->trimmed().toLongLong(&ok);
  if (!ok || number < std::numeric_limits<int>::min() || number > std::numeric_limits<int>::max())
    return std::nullopt;
  return static_cast<int>(number);
}

// Written as an unsigned number, as it always has been.
void Settings::SetMode(int mode) const { Write(kModeKey, static_cast<uint32_t>(mode)); }

std::string Settings::FileFor(int mode) const {
  const char* key = FileKeyFor(mode);
  if (!key) return {};
  return Text(key).value_or(QString()).toStdString();
}

void Settings::SetFileFor(int mode, const std::string& path) const {
  if (const char* key = FileKeyFor(mode)) Write(key, QString::fromStdString(path));
}

}  // namespace kestal::ui

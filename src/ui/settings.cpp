#include "ui/settings.h"

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
  return info.isFile() && info.isReadable();
}

void Settings::Create() const {
  if (!QDir().mkpath(QFileInfo(file_).absolutePath())) return;
  QFile file(file_);
  // Append never truncates a file that exists already.
  if (file.open(QIODevice::WriteOnly | QIODevice::Append)) file.close();
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

void Settings::Write(const char* key, const QVariant& value) const {
  if (!Exists()) return;
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

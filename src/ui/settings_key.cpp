#include "ui/settings_key.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStringList>
#include <limits>

namespace kestal {
namespace {

QString ConfigHome(SettingsRoot root) {
  if (root == SettingsRoot::CurrentUser) {
    const QString home = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!home.isEmpty() && QDir::isAbsolutePath(home)) return home;
    return QDir::homePath() + QStringLiteral("/.config");
  }
  const QString dirs = qEnvironmentVariable("XDG_CONFIG_DIRS");
  const QString first = dirs.section(QLatin1Char(':'), 0, 0);
  if (!first.isEmpty() && QDir::isAbsolutePath(first)) return first;
  return QStringLiteral("/etc/xdg");
}

// "SOFTWARE\org\app\Section" -> {"org", "app", "Section"}; empty when a part is unsafe.
QStringList KeyParts(const std::string& subKey) {
  QStringList parts = QString::fromStdString(subKey).split(QLatin1Char('\\'), Qt::SkipEmptyParts);
  if (!parts.isEmpty() && parts.front().compare(QLatin1String("SOFTWARE"), Qt::CaseInsensitive) == 0)
    parts.pop_front();
  for (const QString& part : parts) {
    if (part == QLatin1String(".") || part == QLatin1String("..") || part.contains(QLatin1Char('/')))
      return {};
  }
  return parts.size() >= 2 ? parts : QStringList{};
}

}  // namespace

SettingsKey::SettingsKey(SettingsRoot root) : m_root(root) {}

SettingsKey::~SettingsKey() { Close(); }

std::string SettingsKey::KeyFile(SettingsRoot root, const std::string& subKey) {
  QStringList parts = KeyParts(subKey);
  if (parts.isEmpty()) return {};
  parts.pop_back();  // the section
  const QString file = parts.takeLast() + QStringLiteral(".conf");
  QString dir = ConfigHome(root);
  for (const QString& part : parts) dir += QLatin1Char('/') + part;
  return (dir + QLatin1Char('/') + file).toStdString();
}

bool SettingsKey::Finish(int32_t result) {
  m_lResult = result;
  return result == SETTINGS_OK;
}

bool SettingsKey::Attach(const std::string& file, const std::string& subKey) {
  Close();
  const QStringList parts = KeyParts(subKey);
  // QSettings keeps top-level keys in [General]; any other section is a group.
  m_strSection = parts.back() == QLatin1String("General") ? std::string() : parts.back().toStdString();
  m_hKey = std::make_unique<QSettings>(QString::fromStdString(file), QSettings::IniFormat);
  if (m_hKey->status() == QSettings::AccessError) {
    m_hKey.reset();
    return Finish(SETTINGS_ACCESS_DENIED);
  }
  if (!m_strSection.empty()) m_hKey->beginGroup(QString::fromStdString(m_strSection));
  m_dwType = SETTINGS_TYPE_NONE;
  m_dwSize = 0;
  return Finish(SETTINGS_OK);
}

bool SettingsKey::Open(SettingsRoot root, const std::string& subKey) {
  m_strSubKey = subKey;
  const std::string file = KeyFile(root, subKey);
  if (file.empty()) return Finish(SETTINGS_BAD_PATH);
  const QFileInfo info(QString::fromStdString(file));
  if (!info.exists()) return Finish(SETTINGS_NOT_FOUND);
  if (!info.isFile() || !info.isReadable()) return Finish(SETTINGS_ACCESS_DENIED);
  return Attach(file, subKey);
}

bool SettingsKey::Create(SettingsRoot root, const std::string& subKey) {
  const std::string file = KeyFile(root, subKey);
  if (file.empty()) return Finish(SETTINGS_BAD_PATH);
  const QString path = QString::fromStdString(file);
  if (!QDir().mkpath(QFileInfo(path).absolutePath())) return Finish(SETTINGS_ACCESS_DENIED);
  QFile keyFile(path);
  // Append never truncates a key that exists already.
  if (!keyFile.open(QIODevice::WriteOnly | QIODevice::Append)) return Finish(SETTINGS_ACCESS_DENIED);
  keyFile.close();
  return Attach(file, subKey);
}

void SettingsKey::Close() {
  if (!m_hKey) return;
  m_hKey->sync();
  m_hKey.reset();
}

bool SettingsKey::SetDword(const std::string& name, uint32_t value) {
  m_dwType = SETTINGS_TYPE_DWORD;
  m_dwSize = 4;
  if (!m_hKey) return Finish(SETTINGS_NOT_OPEN);
  m_hKey->setValue(QString::fromStdString(name), value);
  m_hKey->sync();
  return Finish(m_hKey->status() == QSettings::NoError ? SETTINGS_OK : SETTINGS_ACCESS_DENIED);
}

bool SettingsKey::SetString(const std::string& name, const std::string& value) {
  m_dwType = SETTINGS_TYPE_STRING;
  m_dwSize = static_cast<uint32_t>(value.size() + 1);
  if (!m_hKey) return Finish(SETTINGS_NOT_OPEN);
  m_hKey->setValue(QString::fromStdString(name), QString::fromStdString(value));
  m_hKey->sync();
  return Finish(m_hKey->status() == QSettings::NoError ? SETTINGS_OK : SETTINGS_ACCESS_DENIED);
}

bool SettingsKey::GetDword(const std::string& name, uint32_t& value) {
  if (!m_hKey) return Finish(SETTINGS_NOT_OPEN);
  if (m_hKey->status() == QSettings::FormatError) return Finish(SETTINGS_CORRUPT);
  const QString key = QString::fromStdString(name);
  if (!m_hKey->contains(key)) return Finish(SETTINGS_NOT_FOUND);
  bool ok = false;
  const qlonglong number = m_hKey->value(key).toString().trimmed().toLongLong(&ok);
  constexpr qlonglong kMin = std::numeric_limits<int32_t>::min();
  constexpr qlonglong kMax = std::numeric_limits<uint32_t>::max();
  if (!ok || number < kMin || number > kMax) return Finish(SETTINGS_CORRUPT);
  value = static_cast<uint32_t>(number);
  m_dwType = SETTINGS_TYPE_DWORD;
  m_dwSize = 4;
  return Finish(SETTINGS_OK);
}

bool SettingsKey::GetString(const std::string& name, std::string& value) {
  if (!m_hKey) return Finish(SETTINGS_NOT_OPEN);
  if (m_hKey->status() == QSettings::FormatError) return Finish(SETTINGS_CORRUPT);
  const QString key = QString::fromStdString(name);
  if (!m_hKey->contains(key)) return Finish(SETTINGS_NOT_FOUND);
  const QVariant stored = m_hKey->value(key);
  // An unquoted text with commas in a hand-edited file reads as a list: take it whole.
  const QString text = stored.typeId() == QMetaType::QStringList
                           ? stored.toStringList().join(QLatin1Char(','))
                           : stored.toString();
  value = text.toStdString();
  m_dwType = SETTINGS_TYPE_STRING;
  m_dwSize = static_cast<uint32_t>(value.size() + 1);
  return Finish(SETTINGS_OK);
}

}  // namespace kestal

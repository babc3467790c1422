#pragma once
// The settings as an INI file, <config home>/ostrel/pelmar.conf, values in its [General]
// section. Each call opens the file afresh and writes through at once. Nothing is written while
// the file does not exist: only Create() makes it, so a user who never started the window with
// a port present has no file. Only a regular file of a sensible size is ever opened: a FIFO or
// device there would block the window, and a huge file would be read whole.
#include <QString>
#include <QVariant>

#include "window/core/settings_store.h"

namespace kestal::window::qt {

class IniSettingsStore : public SettingsStore {
 public:
  explicit IniSettingsStore(QString file) : file_(std::move(file)) {}
  // Where the user's file is: $XDG_CONFIG_HOME when it is an absolute path, else ~/.config.
  static QString UserFile();

  bool Exists() const override;
  std::string Problem() const override;
  void Create() override;
  std::optional<std::string> Text(const std::string& name) const override;
  std::optional<int64_t> Number(const std::string& name) const override;
  void SetText(const std::string& name, const std::string& value) override;
  void SetNumber(const std::string& name, uint32_t value) override;

 private:
  std::optional<QString> Read(const std::string& name) const;
  void Write(const std::string& name, const QVariant& value);

  QString file_;
};

}  // namespace kestal::window::qt

#pragma once
// The window's settings: the INI file <config home>/ostrel/pelmar.conf, keys in its [General]
// section. Each call opens the file afresh and writes through at once. Nothing is written while
// the file does not exist: only Create() makes it, so a user who never started the window with
// a port present has no file. Only a regular file of a sensible size is ever opened: a FIFO or
// device there would block the window, and a huge file would be read whole.
#include <QString>
#include <QVariant>
#include <optional>
#include <string>

namespace kestal::ui {

class Settings {
 public:
  // Takes the location from the environment now: $XDG_CONFIG_HOME when it is an absolute path,
  // otherwise ~/.config.
  Settings();

  const QString& FilePath() const { return file_; }
  // The file exists, is regular, readable and not too large.
  bool Exists() const;
  // Why something at the file's place is not used (empty when it is used or absent).
  std::string Problem() const;
  // Makes the file, empty, and its directories; anything that exists is left as it is.
  void Create() const;

  // Absent values read as empty (nullopt for the mode).
  std::string Port() const;
  void SetPort(const std::string& port) const;
  // The stored number, when it is one.
  std::optional<int> Mode() const;
  void SetMode(int mode) const;
  // The last file of `mode` (MODE_SOFTWARE or MODE_CHANNELS); any other mode has none.
  std::string FileFor(int mode) const;
  void SetFileFor(int mode, const std::string& path) const;

 private:
  std::optional<QString> Text(const char* key) const;
  void Write(const char* key, const QVariant& value) const;

  QString file_;
};

}  // namespace kestal::ui

// The settings store: the key is a file that exists or not, values survive the key object,
// long texts come back whole, and damaged files read as absent values.
#include <QDir>
#include <QFile>
#include <QtTest>

#include "ui/settings_key.h"
#include "ui/settings_names.h"
#include "ui_test_support.h"

using namespace kestal;

class SettingsKeyTest : public QObject {
  Q_OBJECT

 private slots:
  void init() { m_home = std::make_unique<test::TestHome>(); }
  void cleanup() { m_home.reset(); }

  void keyFileLivesUnderTheConfigHome() {
    QCOMPARE(QString::fromStdString(SettingsKey::KeyFile(SettingsRoot::CurrentUser, SETTINGS_PATH)),
             m_home->ConfigHome() + QStringLiteral("/ostrel/pelmar.conf"));
    QVERIFY(SettingsKey::KeyFile(SettingsRoot::CurrentUser, "SOFTWARE\\..\\x\\General").empty());
    QVERIFY(SettingsKey::KeyFile(SettingsRoot::CurrentUser, "SOFTWARE\\General").empty());
  }

  void openFailsUntilCreateMakesTheKey() {
    SettingsKey key;
    QVERIFY(!key.Open(SettingsRoot::CurrentUser, SETTINGS_PATH));
    QVERIFY(key.m_lResult != SETTINGS_OK);
    QVERIFY(!key.IsOpen());
    QCOMPARE(key.m_strSubKey, std::string(SETTINGS_PATH));
    QVERIFY(!QFile::exists(m_home->SettingsFile()));

    QVERIFY(key.Create(SettingsRoot::CurrentUser, SETTINGS_PATH));
    key.Close();
    QVERIFY(QFile::exists(m_home->SettingsFile()));
    QCOMPARE(QFileInfo(m_home->SettingsFile()).size(), 0);

    SettingsKey again;
    QVERIFY(again.Open(SettingsRoot::CurrentUser, SETTINGS_PATH));
    QCOMPARE(again.m_lResult, SETTINGS_OK);
    std::string text = "untouched";
    QVERIFY(!again.GetString(VALUE_PORT, text));
    QCOMPARE(text, std::string("untouched"));
  }

  // Values outlive the key object, long and non-ASCII texts come back whole, and Create on an
  // existing key keeps what it holds.
  void valuesPersistInTheGeneralSection() {
    const std::string path = "/home/user/" + std::string(300, 'p') + "/image.ird";
    const std::string korean = "/home/사용자/채널 목록.fdu";
    {
      SettingsKey key;
      QVERIFY(key.Create(SettingsRoot::CurrentUser, SETTINGS_PATH));
      QVERIFY(key.SetString(VALUE_SOFTFILE, path));
      QCOMPARE(key.m_dwSize, static_cast<uint32_t>(path.size() + 1));
      QCOMPARE(key.m_dwType, SETTINGS_TYPE_STRING);
      QVERIFY(key.SetDword(VALUE_MODE, 1));
      QCOMPARE(key.m_dwSize, 4u);
      QCOMPARE(key.m_dwType, SETTINGS_TYPE_DWORD);
      QVERIFY(key.SetString(VALUE_PORT, "Virtual Port (a, b)"));
      QVERIFY(key.SetString(VALUE_CHFILE, korean));
    }  // destroyed: closed
    const QString file = test::ReadSettings();
    QVERIFY(file.startsWith(QStringLiteral("[General]")));
    QVERIFY(file.contains(QStringLiteral("mode=1")));

    SettingsKey key;
    QVERIFY(key.Create(SettingsRoot::CurrentUser, SETTINGS_PATH));
    std::string text;
    QVERIFY(key.GetString(VALUE_SOFTFILE, text));
    QCOMPARE(text, path);
    QVERIFY(key.GetString(VALUE_PORT, text));
    QCOMPARE(text, std::string("Virtual Port (a, b)"));
    QVERIFY(key.GetString(VALUE_CHFILE, text));
    QCOMPARE(text, korean);
    uint32_t mode = 7;
    QVERIFY(key.GetDword(VALUE_MODE, mode));
    QCOMPARE(mode, 1u);
  }

  void operationsOnAClosedKeyFail() {
    SettingsKey key;
    QVERIFY(!key.SetDword(VALUE_MODE, 1));
    QVERIFY(!key.SetString(VALUE_PORT, "x"));
    uint32_t mode = 5;
    QVERIFY(!key.GetDword(VALUE_MODE, mode));
    QCOMPARE(mode, 5u);
    key.Close();
    key.Close();  // harmless twice
  }

  void damagedValuesAndBinaryGarbageReadAsAbsent() {
    QByteArray garbage;
    for (int i = 0; i < 4096; ++i) garbage.append(static_cast<char>((i * 7919) & 0xFF));
    for (const QByteArray& content :
         {QByteArray("[General]\nmode=abc\nport=\nchfile=\"unterminated\n"), garbage}) {
      test::WriteFile(m_home->SettingsFile(), content);
      SettingsKey key;
      QVERIFY(key.Open(SettingsRoot::CurrentUser, SETTINGS_PATH));
      uint32_t mode = 9;
      QVERIFY(!key.GetDword(VALUE_MODE, mode));
      QCOMPARE(mode, 9u);
      std::string text = "kept";
      QVERIFY(!key.GetString(VALUE_SOFTFILE, text));
      QCOMPARE(text, std::string("kept"));
    }
  }

  void unreadableKeyDoesNotOpen() {
    // A directory where the file should be: neither readable as settings nor creatable.
    QVERIFY(QDir().mkpath(m_home->SettingsFile()));
    SettingsKey key;
    QVERIFY(!key.Open(SettingsRoot::CurrentUser, SETTINGS_PATH));
    QCOMPARE(key.m_lResult, SETTINGS_ACCESS_DENIED);
    QVERIFY(!key.Create(SettingsRoot::CurrentUser, SETTINGS_PATH));
    QVERIFY(!key.IsOpen());
    QVERIFY(!key.SetString(VALUE_PORT, "x"));
  }

 private:
  std::unique_ptr<test::TestHome> m_home;
};

QTEST_GUILESS_MAIN(SettingsKeyTest)
#include "test_settings_key.moc"

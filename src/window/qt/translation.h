#pragma once
// The window's translations: compiled into the program, one per language, chosen by the locale.
#include <QLocale>
#include <QTranslator>
#include <memory>

namespace kestal::window::qt {

// The translation for `locale`, or nullptr when there is none (English is the source text).
// The caller installs it (QCoreApplication::installTranslator) and keeps it alive.
std::unique_ptr<QTranslator> LoadTranslation(const QLocale& locale);

}  // namespace kestal::window::qt

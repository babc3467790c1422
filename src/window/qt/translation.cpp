#include "window/qt/translation.h"

namespace kestal::window::qt {

std::unique_ptr<QTranslator> LoadTranslation(const QLocale& locale) {
  auto translator = std::make_unique<QTranslator>();
  if (!translator->load(locale, QStringLiteral("kestal"), QStringLiteral("_"),
                        QStringLiteral(":/i18n")))
    return nullptr;
  return translator;
}

}  // namespace kestal::window::qt

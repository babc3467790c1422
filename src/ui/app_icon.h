#pragma once
#include <QIcon>

namespace kestal::ui {

// The application's icon: a satellite dish, drawn at the usual icon sizes.
QIcon MakeAppIcon();

}  // namespace kestal::ui

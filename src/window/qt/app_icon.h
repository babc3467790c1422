#pragma once
#include <QIcon>

namespace kestal::window::qt {

// The application's icon: a satellite dish, drawn at the usual icon sizes.
QIcon MakeAppIcon();

}  // namespace kestal::window::qt

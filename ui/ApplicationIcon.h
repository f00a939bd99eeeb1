#pragma once

#include <QIcon>

namespace brasko {

// The program's icon, built into the executable.
QIcon ApplicationIcon();

} // namespace brasko

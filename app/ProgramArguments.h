#pragma once

#include <QStringList>

namespace brasko {

// The files the program was started with: every argument after the program's name, the first "--" left
// out (after it, "--" is a file name too). The program has no options, and Qt gets none of these: names
// such as "-platform" or "-style" are files for the list, never settings that load plugins or change the
// look. Qt's settings come from the environment (QT_QPA_PLATFORM, QT_STYLE_OVERRIDE, ...).
QStringList FileArguments(int argc, const char* const* argv);

} // namespace brasko

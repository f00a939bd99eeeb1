#pragma once

#include <QString>
#include <QStringList>

namespace brasko {

// The names in a file dialog's file-name text. Several names stand each between quotation marks,
// separated by blanks ("a" "b"); a text without quotation marks is one name, taken as it stands. Text
// outside quotation marks counts as a name of its own once trimmed, an unclosed quotation runs to the
// end, and empty names are dropped.
QStringList SplitQuotedNames(const QString& strText);

// The full path of a name in a folder: one separator between them, none added when the folder ends in
// one (the root folder). A name that is an absolute path already stands for itself.
QString JoinFolderAndName(const QString& strFolder, const QString& strName);

} // namespace brasko

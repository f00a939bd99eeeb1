#pragma once

#include "SecureBuffer.h"

#include <QString>

#include <string>

// The one place where the dialog's QStrings become the core's std::strings and back. Paths travel in the
// file system's encoding; password, template fields and message texts are UTF-8.
namespace brasko::text {

std::string PathToCore(const QString& strPath);
QString PathFromCore(const std::string& strPath);

std::string ToCore(const QString& strText);
QString FromCore(const std::string& strText);

// The text as UTF-8 in a secure buffer of its own, converted character by character so that no other copy
// of the bytes is made (a password).
CSecureBuffer ToSecureUtf8(const QString& strText);

// A tooltip that shows the text as it is spelled, line breaks kept: Qt takes a tooltip that looks like
// markup for rich text, so the text is escaped inside a paragraph of its own.
QString PlainToolTip(const QString& strText);

} // namespace brasko::text

#pragma once

#include <QString>

#include <string>

// The one place where the dialog's QStrings become the core's std::strings and back. Paths travel in the
// file system's encoding; password, template fields and message texts are UTF-8.
namespace brasko::text {

std::string PathToCore(const QString& strPath);
QString PathFromCore(const std::string& strPath);

std::string ToCore(const QString& strText);
QString FromCore(const std::string& strText);

} // namespace brasko::text

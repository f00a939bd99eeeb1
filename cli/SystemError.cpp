#include "SystemError.h"

#include <array>
#include <cstring>
#include <locale.h> // NOLINT(modernize-deprecated-headers): newlocale and strerror_l are POSIX
#include <string>

namespace brasko::cli {

namespace {

// A German locale for the texts, or the C locale when none is installed. Made once, kept for the
// process's life.
locale_t MessagesLocale()
{
    static const locale_t locale = [] {
        for (const char* pszName : std::array{"de_DE.UTF-8", "de_AT.UTF-8", "de_CH.UTF-8", "C"}) {
            if (const locale_t candidate = ::newlocale(LC_CTYPE_MASK | LC_MESSAGES_MASK, pszName, nullptr))
                return candidate;
        }
        return locale_t{};
    }();
    return locale;
}

} // namespace

std::string SystemErrorText(int nError)
{
    if (nError == 0)
        return "unbekannte Ursache";
    if (const locale_t locale = MessagesLocale())
        return ::strerror_l(nError, locale);
    return "Fehler " + std::to_string(nError);
}

} // namespace brasko::cli

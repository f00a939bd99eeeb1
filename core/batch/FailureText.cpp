#include "FailureText.h"

#include "Messages.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <locale.h> // NOLINT(modernize-deprecated-headers): newlocale and strerror_l are POSIX
#include <string>
#include <string_view>
#include <utility>

namespace brasko {

namespace {

// Our own German texts for the errors that opening, reading, writing and renaming files can meet, so that
// the reason reads German inside a German sentence on every system, whatever locales are installed and
// whatever LANG says.
constexpr std::array<std::pair<int, std::string_view>, 35> kGermanReasons = {{
    {EPERM, "Vorgang nicht erlaubt"},
    {ENOENT, "Datei oder Ordner nicht vorhanden"},
    {EINTR, "Durch ein Signal unterbrochen"},
    {EIO, "Ein-/Ausgabefehler"},
    {ENXIO, "Gerät oder Adresse nicht vorhanden"},
    {EBADF, "Ungültiger Dateideskriptor"},
    {EAGAIN, "Vorübergehend nicht verfügbar, bitte erneut versuchen"},
    {ENOMEM, "Nicht genügend Arbeitsspeicher"},
    {EACCES, "Keine Berechtigung"},
    {EBUSY, "Gerät oder Ressource belegt"},
    {EEXIST, "Datei ist schon vorhanden"},
    {EXDEV, "Verschieben über Dateisystemgrenzen hinweg nicht möglich"},
    {ENODEV, "Gerät nicht vorhanden"},
    {ENOTDIR, "Ein Teil des Pfades ist kein Ordner"},
    {EISDIR, "Ist ein Ordner"},
    {EINVAL, "Ungültiges Argument"},
    {ENFILE, "Zu viele offene Dateien im System"},
    {EMFILE, "Zu viele offene Dateien"},
    {ETXTBSY, "Programmdatei wird gerade ausgeführt"},
    {EFBIG, "Datei zu groß"},
    {ENOSPC, "Kein Speicherplatz auf dem Gerät"},
    {ESPIPE, "Datei nicht positionierbar"},
    {EROFS, "Schreibgeschütztes Dateisystem"},
    {EMLINK, "Zu viele Verknüpfungen"},
    {EPIPE, "Der Empfänger hat die Verbindung geschlossen"},
    {ENAMETOOLONG, "Dateiname zu lang"},
    {ELOOP, "Zu viele Ebenen symbolischer Verknüpfungen"},
    {EOVERFLOW, "Wert zu groß für den Datentyp"},
    {ENOTSUP, "Vorgang nicht unterstützt"},
    {EDQUOT, "Speicherkontingent überschritten"},
    {ESTALE, "Veralteter Verweis auf eine entfernte Datei"},
    {ETIMEDOUT, "Zeitüberschreitung"},
    {ENOSYS, "Funktion nicht verfügbar"},
    {ENOLCK, "Keine Sperren verfügbar"},
    {ECANCELED, "Vorgang abgebrochen"},
}};

// A German locale for errors outside the table, or the C locale when none is installed. Made once, kept
// for the process's life.
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
    for (const auto& [nKnown, strText] : kGermanReasons) {
        if (nKnown == nError)
            return std::string(strText);
    }
    if (const locale_t locale = MessagesLocale())
        return ::strerror_l(nError, locale);
    return "Fehler " + std::to_string(nError);
}

std::string FailureReason(const std::string& strPath, const SDecryptOutcome& outcome, bool bAlreadyReported)
{
    const std::string strReason = SystemErrorText(outcome.nSystemError);
    switch (outcome.error) {
    case EDecryptError::None:
    case EDecryptError::InputMissing:
        // "kann nicht gefunden werden" has told the user all there is about a missing file.
        return {};
    case EDecryptError::InputNotRegular:
        // A folder says so in the system's words; other kinds of files are named as such.
        if (outcome.nSystemError == EISDIR)
            return messages::InputNotOpened(strPath, strReason);
        return messages::InputNotRegular(strPath);
    case EDecryptError::InputOnPseudoFileSystem:
        return messages::InputOnPseudoFileSystem(strPath);
    case EDecryptError::OpenInput:
        return messages::InputNotOpened(strPath, strReason);
    case EDecryptError::ReplacesInput:
    case EDecryptError::DuplicateOutput:
        // The batch's own message has said why.
        return {};
    case EDecryptError::OutOfMemory:
        return messages::OutOfMemory(strPath);
    case EDecryptError::OutputIsInput:
        return bAlreadyReported ? std::string() : messages::OutputIsInput(strPath);
    case EDecryptError::CreateOutput:
        if (outcome.strOutputPath.empty())
            return messages::OutputPathUnknown(strPath, strReason);
        return messages::OutputNotCreated(outcome.strOutputPath, strReason);
    case EDecryptError::Read:
        return messages::InputNotRead(strPath, strReason);
    case EDecryptError::Write:
        return messages::OutputNotWritten(outcome.strOutputPath, strReason);
    case EDecryptError::CipherSetup:
        return messages::kCipherUnavailable;
    case EDecryptError::Cancelled:
    case EDecryptError::OutputRefused: // the core has said why
    case EDecryptError::InputShrank:
        return {};
    }
    return {};
}

} // namespace brasko

#pragma once

#include <string>

// The texts only the command line shows. The messages it shares with the dialog are in core/Messages.h.
namespace brasko::cli::messages {

inline constexpr const char* kProgramName = "brasko-decrypt-cli";

inline constexpr const char* kDescription =
    "Entschlüsselt Dateien, die mit Triple-DES (EDE, drei Schlüssel, ECB) verschlüsselt wurden. Jede\n"
    "Datei wird neben ihrer Eingabe abgelegt, unter dem Namen Vorsatz + Name + Nachsatz + Endung +\n"
    "Zusatzendung (aus bericht.xls wird mit den Standardwerten e_bericht.xls).\n";

inline constexpr const char* kFooter =
    "Kennwort:\n"
    "  Ohne --password-stdin und --password-file fragt das Programm am Terminal nach dem Kennwort,\n"
    "  ohne es anzuzeigen. Auf der Befehlszeile wird es nie angegeben. Es zählen höchstens 24 Zeichen.\n"
    "\n"
    "Beispiele:\n"
    "  brasko-decrypt-cli bericht.xls\n"
    "  brasko-decrypt-cli --prefix \"\" --suffix _klar --extension .txt daten/*.enc\n"
    "  brasko-decrypt-cli --password-file ~/.kennwort -q a.bin b.bin\n"
    "\n"
    "Rückgabewert: 0, wenn alle Dateien entschlüsselt wurden; 1, wenn mindestens eine Datei nicht\n"
    "entschlüsselt wurde; 2 bei einem falschen Aufruf, einem nicht lesbaren Kennwort oder einer leeren\n"
    "Vorlage.";

inline constexpr const char* kHelpFiles =
    "Die verschlüsselten Dateien; sie werden in dieser Reihenfolge entschlüsselt";
inline constexpr const char* kHelpHelp = "Diese Hilfe zeigen und beenden";
inline constexpr const char* kHelpVersion = "Die Versionsnummer zeigen und beenden";
inline constexpr const char* kHelpPrefix =
    "Vorsatz vor dem Dateinamen (Standard: e_; --prefix \"\" für keinen)";
inline constexpr const char* kHelpSuffix = "Nachsatz zwischen Dateiname und Endung (Standard: keiner)";
inline constexpr const char* kHelpExtension =
    "Zusatzendung ganz am Ende, ohne eigenen Punkt (Standard: keine)";
inline constexpr const char* kHelpPasswordStdin =
    "Das Kennwort aus der ersten Zeile der Standardeingabe lesen";
inline constexpr const char* kHelpPasswordFile = "Das Kennwort aus der ersten Zeile dieser Datei lesen";
inline constexpr const char* kHelpJobs =
    "Threads für große Dateien: 0 = alle Kerne (Standard), 1 = nur einer";
inline constexpr const char* kHelpQuiet =
    "Keine Ablaufzeilen auf der Standardausgabe und keine Fortschrittsanzeige";

inline constexpr const char* kUsageHint =
    "Aufruf: brasko-decrypt-cli [OPTIONEN] [DATEI...]; Hilfe mit --help.";
inline constexpr const char* kInvalidCall = "Ungültiger Aufruf.";
inline constexpr const char* kPasswordSourcesExclusive =
    "--password-stdin und --password-file können nicht zusammen angegeben werden.";
inline constexpr const char* kPasswordNotOnCommandLine =
    "Das Kennwort wird nie auf der Befehlszeile angegeben; verwenden Sie --password-stdin, --password-file "
    "oder die Abfrage am Terminal.";
inline constexpr const char* kNoTerminal =
    "Kein Kennwort: Es gibt kein Terminal für die Abfrage. Geben Sie das Kennwort mit --password-stdin oder "
    "--password-file an.";
inline constexpr const char* kPasswordStdinEmpty =
    "Kein Kennwort: Die Standardeingabe ist leer. Für das leere Kennwort geben Sie eine leere Zeile ein.";
inline constexpr const char* kPrompt = "Kennwort: ";
inline constexpr const char* kPromptAborted = "Die Eingabe des Kennworts wurde abgebrochen.";
inline constexpr const char* kPasswordTruncated =
    "Hinweis: Das Kennwort ist länger als 24 Zeichen; es werden nur die ersten 24 Zeichen verwendet.";
inline constexpr const char* kCipherUnavailable =
    "Triple-DES steht in dieser OpenSSL-Installation nicht zur Verfügung.";

inline std::string UnknownOptions(const std::string& strOptions, bool bSeveral)
{
    return (bSeveral ? "Unbekannte Optionen: " : "Unbekannte Option: ") + strOptions;
}

inline std::string MissingValue(const std::string& strOption)
{
    return "Die Option " + strOption + " erwartet einen Wert.";
}

inline std::string OptionMisused(const std::string& strOption)
{
    return "Die Option " + strOption + " ist so nicht zulässig.";
}

inline std::string InvalidJobs(const std::string& strValue, unsigned nMax)
{
    return "Die Option --jobs erwartet eine ganze Zahl von 0 bis " + std::to_string(nMax) + ", nicht '" +
           strValue + "'.";
}

inline std::string PasswordReadFailed(const std::string& strReason)
{
    return "Das Kennwort kann nicht gelesen werden: " + strReason;
}

inline std::string PasswordFileFailed(const std::string& strPath, const std::string& strReason)
{
    return "Die Kennwortdatei '" + strPath + "' kann nicht gelesen werden: " + strReason;
}

inline std::string PasswordFileEmpty(const std::string& strPath)
{
    return "Kein Kennwort: Die Kennwortdatei '" + strPath +
           "' ist leer. Für das leere Kennwort schreiben Sie eine leere Zeile hinein.";
}

// Reasons added after a file's failure, each a line of its own.
inline std::string InputNotOpened(const std::string& strPath, const std::string& strReason)
{
    return "Die Datei '" + strPath + "' kann nicht geöffnet werden: " + strReason;
}

inline std::string InputNotRegular(const std::string& strPath)
{
    return "Die Datei '" + strPath + "' ist keine gewöhnliche Datei.";
}

inline std::string InputNotRead(const std::string& strPath, const std::string& strReason)
{
    return "Die Datei '" + strPath + "' kann nicht gelesen werden: " + strReason;
}

inline std::string OutputIsInput(const std::string& strPath)
{
    return "Die Datei '" + strPath + "' wird nicht entschlüsselt, da die Ausgabedatei die Datei selbst wäre.";
}

inline std::string OutputNotCreated(const std::string& strOutputPath, const std::string& strReason)
{
    return "Die Ausgabedatei '" + strOutputPath + "' kann nicht angelegt werden: " + strReason;
}

inline std::string OutputPathUnknown(const std::string& strPath, const std::string& strReason)
{
    return "Für die Datei '" + strPath + "' lässt sich kein Ausgabepfad bilden: " + strReason;
}

inline std::string OutputNotWritten(const std::string& strOutputPath, const std::string& strReason)
{
    return "Die Ausgabedatei '" + strOutputPath + "' kann nicht geschrieben werden: " + strReason;
}

} // namespace brasko::cli::messages

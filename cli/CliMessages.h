#pragma once

#include "Messages.h"

#include <cstddef>
#include <string>

// The texts only the command line shows. The messages it shares with the dialog are in core/texts/Messages.h.
namespace brasko::cli::messages {

inline constexpr const char* kProgramName = "brasko-decrypt-cli";

// The help's texts are wrapped by hand to fit 80 columns.
inline constexpr const char* kDescription =
    "Entschlüsselt Dateien, die mit Triple-DES (EDE, drei Schlüssel, ECB)\n"
    "verschlüsselt wurden. Jede Datei wird neben ihrer Eingabe abgelegt, unter dem\n"
    "Namen Vorsatz + Name + Nachsatz + Endung + Zusatzendung (aus bericht.xls wird\n"
    "mit den Standardwerten e_bericht.xls).\n";

inline constexpr const char* kFooter =
    "Kennwort:\n"
    "  Ohne --password-stdin und --password-file fragt das Programm am Terminal\n"
    "  nach dem Kennwort, ohne es anzuzeigen. Auf der Befehlszeile wird es nie\n"
    "  angegeben. Es zählen höchstens 24 Zeichen.\n"
    "\n"
    "Zwei Regeln des alten Programms:\n"
    "  Jedes Zeichen jenseits von 7-Bit-ASCII wird zu \"?\": \"Schlüssel\" = \"Schlåssel\".\n"
    "  Ein Rest unter 8 Byte: auf den vorigen Klartextblock gelegt und entschlüsselt.\n"
    "\n"
    "Archive:\n"
    "  Mit mehreren Threads werden mehrere Dateien zugleich entschlüsselt;\n"
    "  Meldungen, Ablaufzeilen und Ausgabedateien kommen trotzdem in der gegebenen\n"
    "  Reihenfolge. -r nimmt die Einträge jedes Ordners byteweise nach Namen\n"
    "  sortiert und folgt keinen Verknüpfungen auf Ordner. Mit --output-dir landet\n"
    "  eine direkt genannte Datei im Ausgabeordner, eine aus einem Ordner an ihrem\n"
    "  Platz relativ zu diesem. Mit -n setzt ein zweiter Lauf einen abgebrochenen\n"
    "  fort: Ausgabedateien sind immer vollständig, eine vorhandene ist also\n"
    "  fertig.\n"
    "\n"
    "Beispiele:\n"
    "  brasko-decrypt-cli bericht.xls\n"
    "  brasko-decrypt-cli --prefix \"\" --suffix _klar --extension .txt daten/*.enc\n"
    "  brasko-decrypt-cli --password-file ~/.kennwort -q a.bin b.bin\n"
    "  brasko-decrypt-cli -r --output-dir klar daten\n"
    "                                      (klar/2019/e_a.xls aus daten/2019/a.xls)\n"
    "  find daten -type f -print0 | brasko-decrypt-cli --password-file ~/.kennwort \\\n"
    "      -n -0 --files-from - --output-dir klar  (-n: ein zweiter Lauf setzt fort)\n"
    "\n"
    "Falsches Kennwort:\n"
    "  Bevor etwas geschrieben wird, entschlüsselt das Programm den Anfang der\n"
    "  ersten lesbaren Datei zur Probe; sieht er zufällig aus, endet es mit einer\n"
    "  Warnung, ohne etwas zu schreiben. Sieht eine spätere entschlüsselte Datei\n"
    "  zufällig aus, folgt eine Warnung. --no-check schaltet Probe und Warnungen\n"
    "  ab. --check entschlüsselt nur die ersten 64 KiB jeder Datei im Speicher,\n"
    "  schreibt nichts und nennt je Datei, wonach der Inhalt aussieht.\n"
    "\n"
    "Rückgabewert: 0, wenn alle Dateien entschlüsselt wurden (mit -n: auch schon\n"
    "früher); 1, wenn mindestens eine Datei nicht entschlüsselt wurde oder ein\n"
    "Ordner nicht lesbar war (mit --dry-run: wenn der Plan eine Datei ablehnt);\n"
    "2 bei einem falschen Aufruf, einem nicht lesbaren Kennwort, einer nicht\n"
    "lesbaren Dateiliste, einem fehlenden Ausgabeordner oder einer leeren Vorlage;\n"
    "3, wenn die Probe zufällig aussieht und deshalb nichts geschrieben wurde.\n"
    "Mit --check: 0, wenn jede Datei glaubhaft aussieht; 3, wenn mindestens eine\n"
    "zufällig aussieht (falsches Kennwort?); 1, wenn eine Datei nicht gelesen\n"
    "werden kann.";

inline constexpr const char* kUsage = "Aufruf: brasko-decrypt-cli [OPTIONEN] [DATEI...]";
inline constexpr const char* kHelpArgumentsHeading = "Argumente:";
inline constexpr const char* kHelpOptionsHeading = "Optionen:";
inline constexpr const char* kHelpFilesName = "DATEI ...";
// An option's text continues after each line feed in the help's second column.
inline constexpr const char* kHelpFiles = "Die verschlüsselten Dateien; sie werden in dieser\n"
                                          "Reihenfolge entschlüsselt. - liest die\n"
                                          "Standardeingabe (nur mit -c oder -o)";
inline constexpr const char* kHelpHelp = "Diese Hilfe zeigen und beenden";
inline constexpr const char* kHelpVersion = "Die Versionsnummer zeigen und beenden";
inline constexpr const char* kHelpPrefix = "Vorsatz vor dem Dateinamen (Standard: e_;\n"
                                           "keiner mit --prefix \"\")";
inline constexpr const char* kHelpSuffix = "Nachsatz zwischen Dateiname und Endung\n"
                                           "(Standard: keiner)";
inline constexpr const char* kHelpExtension = "Zusatzendung ganz am Ende, ohne eigenen Punkt\n"
                                              "(Standard: keine)";
inline constexpr const char* kHelpPasswordStdin = "Das Kennwort aus der ersten Zeile der\n"
                                                  "Standardeingabe lesen";
inline constexpr const char* kHelpPasswordFile = "Das Kennwort aus der ersten Zeile dieser Datei lesen";
inline constexpr const char* kHelpJobs = "Threads: 0 = alle Kerne (Standard), 1 = nur einer;\n"
                                         "auch mehrere Dateien zugleich";
inline constexpr const char* kHelpFilesFrom = "Weitere Dateinamen aus LISTE lesen, einer je\n"
                                              "Zeile (- = Standardeingabe)";
inline constexpr const char* kHelpNull = "Die Namen in LISTE sind durch NUL getrennt\n"
                                         "(wie find -print0)";
inline constexpr const char* kHelpRecursive = "Ein Ordner steht für alle gewöhnlichen\n"
                                              "Dateien darunter";
inline constexpr const char* kHelpOutputDir = "Ausgabedateien in diesen bestehenden Ordner,\n"
                                              "mit -r samt Unterordnern";
inline constexpr const char* kHelpSkipExisting = "Dateien mit schon vorhandener Ausgabedatei\n"
                                                 "überspringen (Lauf fortsetzen)";
inline constexpr const char* kHelpDryRun = "Nur \"<Eingabe> -> <Ausgabe>\" zeigen; nichts\n"
                                           "lesen, nichts anlegen";
inline constexpr const char* kHelpVerbose = "Nach jeder Datei \"<Eingabe> -> <Ausgabe>\" auf\n"
                                            "der Standardausgabe";
inline constexpr const char* kHelpQuiet = "Keine Ablaufzeilen auf der Standardausgabe, keine\n"
                                          "Fortschrittsanzeige und keine Erfolgsmeldung;\n"
                                          "Fehler und Warnungen bleiben";

inline constexpr const char* kHelpStdout = "Den Klartext der einen DATEI auf die\n"
                                           "Standardausgabe schreiben (nicht auf ein Terminal)";
inline constexpr const char* kHelpOutput = "Der Klartext der einen DATEI wird zu dieser Datei";
inline constexpr const char* kHelpCheck = "Nur prüfen: die ersten 64 KiB jeder Datei im\n"
                                          "Speicher entschlüsseln und den Inhalt nennen";
inline constexpr const char* kHelpNoCheck = "Keine Probe vor dem Schreiben und keine Warnung,\n"
                                            "wenn ein Inhalt zufällig aussieht";

inline constexpr const char* kUsageHint =
    "Aufruf: brasko-decrypt-cli [OPTIONEN] [DATEI...]; Hilfe mit --help.";
inline constexpr const char* kPasswordSourcesExclusive =
    "--password-stdin und --password-file können nicht zusammen angegeben werden.";
inline constexpr const char* kStdinTwice =
    "--files-from - und --password-stdin können nicht zusammen angegeben werden: beide lesen die "
    "Standardeingabe.";
inline constexpr const char* kPasswordNotOnCommandLine =
    "Das Kennwort wird nie auf der Befehlszeile angegeben; verwenden Sie --password-stdin, --password-file "
    "oder die Abfrage am Terminal.";
inline constexpr const char* kNoTerminal =
    "Kein Kennwort: Es gibt kein Terminal für die Abfrage. Geben Sie das Kennwort mit --password-stdin oder "
    "--password-file an.";
inline constexpr const char* kStdinNeedsOutput =
    "Die Eingabe - (Standardeingabe) braucht -c oder -o: ohne Dateinamen gibt es keinen Namen für die "
    "Ausgabedatei.";
inline constexpr const char* kStdoutIsTerminal =
    "Der Klartext wird nicht auf ein Terminal geschrieben; leiten Sie die Standardausgabe um oder nennen "
    "Sie mit -o eine Ausgabedatei.";
inline constexpr const char* kCheckOptionsExclusive =
    "--check und --no-check können nicht zusammen angegeben werden.";
inline constexpr const char* kPasswordStdinEmpty =
    "Kein Kennwort: Die Standardeingabe ist leer. Für das leere Kennwort geben Sie eine leere Zeile ein.";
inline constexpr const char* kPrompt = "Kennwort: ";
inline constexpr const char* kPromptAborted = "Die Eingabe des Kennworts wurde abgebrochen.";
inline constexpr const char* kPasswordTruncated =
    "Hinweis: Das Kennwort ist länger als 24 Zeichen; es werden nur die ersten 24 Zeichen verwendet.";

inline std::string UnknownOptions(const std::string& strOptions, bool bSeveral)
{
    return (bSeveral ? "Unbekannte Optionen: " : "Unbekannte Option: ") + strOptions;
}

inline std::string OptionsExclusive(const std::string& strFirst, const std::string& strSecond)
{
    return strFirst + " und " + strSecond + " können nicht zusammen angegeben werden.";
}

inline std::string StdinInputTwice(const std::string& strOption)
{
    return "Die Eingabe - und " + strOption +
           " können nicht zusammen angegeben werden: beide lesen die Standardeingabe.";
}

inline std::string OneInputOnly(const std::string& strOption, std::size_t nInputs)
{
    return strOption + " verlangt genau eine Eingabedatei; angegeben sind " + std::to_string(nInputs) + ".";
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

inline std::string FileListFailed(const std::string& strPath, const std::string& strReason)
{
    return "Die Dateiliste '" + strPath + "' kann nicht gelesen werden: " + strReason;
}

// A line of a newline-separated list holds a NUL byte; nLine counts from 1.
inline std::string FileListLineHasNul(const std::string& strPath, std::size_t nLine)
{
    return "Die Zeile " + std::to_string(nLine) + " der Dateiliste '" + strPath +
           "' enthält ein NUL-Zeichen; eine durch NUL getrennte Liste wird mit -0 (--null) gelesen.";
}

inline std::string OutputDirMissing(const std::string& strPath)
{
    return "Der Ausgabeordner '" + strPath + "' existiert nicht oder ist kein Ordner.";
}

inline std::string FolderNotRead(const std::string& strPath, const std::string& strReason)
{
    return "Der Ordner '" + strPath + "' kann nicht gelesen werden: " + strReason;
}

// "<input> -> <output>" of --dry-run and --verbose.
inline std::string Mapping(const std::string& strInput, const std::string& strOutput)
{
    return strInput + " -> " + strOutput;
}

inline std::string Skipped(std::size_t nCount)
{
    return nCount == 1 ? "1 Datei wurde übersprungen, da ihre Ausgabedatei bereits existiert."
                       : std::to_string(nCount) +
                             " Dateien wurden übersprungen, da ihre Ausgabedatei bereits existiert.";
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

// The reasons for a file's failure come from the batch's texts, shared with the dialog.
using brasko::messages::InputNotOpened;
using brasko::messages::InputNotRead;
using brasko::messages::InputNotRegular;
using brasko::messages::InputOnPseudoFileSystem;
using brasko::messages::kCipherUnavailable;
using brasko::messages::OutOfMemory;
using brasko::messages::OutputIsInput;
using brasko::messages::OutputNotCreated;
using brasko::messages::OutputNotWritten;
using brasko::messages::OutputPathUnknown;

// BRASKO_DES_KERNEL names a Triple-DES variant that is unknown or that this CPU cannot run.
inline std::string DesKernelRefused(const std::string& strRequested, const std::string& strAvailable)
{
    return "Die Triple-DES-Variante '" + strRequested +
           "' aus BRASKO_DES_KERNEL ist auf diesem Rechner nicht verfügbar. Verfügbar sind: " + strAvailable +
           ".";
}

// The fast variant failed its check at start; OpenSSL decrypts instead.
inline std::string DesKernelSelfTestFailed(const std::string& strKernel)
{
    return "Hinweis: Die Triple-DES-Variante '" + strKernel +
           "' hat ihren Selbsttest nicht bestanden; es wird OpenSSL verwendet.";
}

// After a decrypted file whose content looks random.
inline std::string ContentLooksRandom(const std::string& strOutputPath)
{
    return "Warnung: Der Inhalt von '" + strOutputPath + "' sieht zufällig aus - ist das Kennwort richtig?";
}

// The first input that can be opened decrypts to random-looking bytes: the run ends before it writes.
inline std::string PasswordTrialFailed(const std::string& strPath)
{
    return "Warnung: Mit diesem Kennwort ergibt die Datei '" + strPath +
           "' keinen erkennbaren Inhalt. Es wurde nichts geschrieben; mit --no-check wird trotzdem "
           "entschlüsselt.";
}

// A folder given without --recursive.
inline std::string FolderWithoutRecursive(const std::string& strPath)
{
    return "'" + strPath + "' ist ein Ordner; mit -r werden die Dateien darin entschlüsselt.";
}

// One line of --check on standard output.
inline std::string CheckLine(const std::string& strPath, const std::string& strDescription)
{
    return strPath + ": " + strDescription;
}

} // namespace brasko::cli::messages

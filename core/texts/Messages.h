#pragma once

#include "VerdictTexts.h"

#include <string>

// Every text the program shows the user, in one place, so dialog and command line say the same. The
// plausibility verdict's texts come with it from VerdictTexts.h.
namespace brasko::messages {

inline constexpr const char* kApplicationName = "Brasko Decryption Tool";
inline constexpr const char* kTraceLine = "Decrypt the content of the file";

inline constexpr const char* kTemplateEmpty =
    "Bitte geben Sie mindestens eine Vorlage für die Ausgabedatei an.";
inline constexpr const char* kBatchSucceeded = "Die Entschlüsselung wurde erfolgreich beendet !";
inline constexpr const char* kBatchFailed = "Bei der Entschlüsselung ist ein Fehler aufgetreten.";
inline constexpr const char* kBatchCancelled =
    "Die Entschlüsselung wurde abgebrochen; die begonnene Datei wurde nicht geschrieben.";

inline std::string FileNotFound(const std::string& strPath)
{
    return "Die Datei '" + strPath + "' kann nicht gefunden werden !";
}

// An entry of a batch whose output would replace one of the batch's own encrypted inputs.
inline std::string OutputWouldReplaceInput(const std::string& strPath, const std::string& strOutputPath)
{
    return "Die Datei '" + strPath + "' wird nicht entschlüsselt, da die Ausgabedatei '" + strOutputPath +
           "' eine zu entschlüsselnde Datei überschreiben würde !";
}

// Outputs that are not written: in a shared folder such as /tmp, a symbolic link or a file that another user
// put there (who could read the plaintext or aim it elsewhere), and anywhere a link to nothing.
inline std::string OutputIsForeignLink(const std::string& strPath, const std::string& strOutputPath)
{
    return "Die Datei '" + strPath + "' wird nicht entschlüsselt, da die Ausgabedatei '" + strOutputPath +
           "' eine Verknüpfung eines anderen Benutzers in einem gemeinsam genutzten Ordner ist !";
}

inline std::string OutputIsDanglingLink(const std::string& strPath, const std::string& strOutputPath)
{
    return "Die Datei '" + strPath + "' wird nicht entschlüsselt, da die Ausgabedatei '" + strOutputPath +
           "' eine Verknüpfung auf eine nicht vorhandene Datei ist !";
}

inline std::string OutputIsForeignFile(const std::string& strPath, const std::string& strOutputPath)
{
    return "Die Datei '" + strPath + "' wird nicht entschlüsselt, da die Ausgabedatei '" + strOutputPath +
           "' in einem gemeinsam genutzten Ordner einem anderen Benutzer gehört !";
}

// An output folder (the one given, or one below it) that another user made in a folder shared with others:
// they could read what is written there or swap it for something else.
inline std::string OutputFolderIsForeign(const std::string& strPath, const std::string& strFolder)
{
    return "Die Datei '" + strPath + "' wird nicht entschlüsselt, da der Ausgabeordner '" + strFolder +
           "' in einem gemeinsam genutzten Ordner einem anderen Benutzer gehört !";
}

// An input that got shorter while it was decrypted; the older output stays.
inline std::string InputShrank(const std::string& strPath, const std::string& strOutputPath)
{
    return "Die Datei '" + strPath + "' ist während der Entschlüsselung kürzer geworden; die Ausgabedatei '" +
           strOutputPath + "' wurde nicht geschrieben !";
}

// The web page: a download that the browser refused to hold (its store for downloads full, with nowhere on
// disk to move it to); nothing of it was downloaded.
inline std::string DownloadTooLarge(const std::string& strOutputPath)
{
    return "Die Ausgabedatei '" + strOutputPath +
           "' ist zu groß, um in diesem Browser als Download bereitgestellt zu werden, und wurde nicht "
           "geschrieben !";
}

// Asked before a batch whose first input, decrypted with the password given, looks random.
inline std::string PasswordLooksWrong(const std::string& strPath)
{
    return "Mit diesem Kennwort ergibt die Datei '" + strPath +
           "' keinen erkennbaren Inhalt. Ist das Kennwort richtig? Trotzdem entschlüsseln?";
}

// Two entries of a batch that would write the same output: each of them gets this message.
inline std::string OutputWouldBeWrittenTwice(const std::string& strPath, const std::string& strOutputPath)
{
    return "Die Datei '" + strPath +
           "' wird nicht entschlüsselt, da eine andere zu entschlüsselnde Datei "
           "dieselbe Ausgabedatei '" +
           strOutputPath + "' schreiben würde !";
}

// Why a file failed, said after it, with the system's reason where there is one (SystemErrorText).
inline constexpr const char* kCipherUnavailable =
    "Triple-DES steht in dieser OpenSSL-Installation nicht zur Verfügung.";

inline std::string InputNotOpened(const std::string& strPath, const std::string& strReason)
{
    return "Die Datei '" + strPath + "' kann nicht geöffnet werden: " + strReason;
}

inline std::string InputNotRegular(const std::string& strPath)
{
    return "Die Datei '" + strPath + "' ist keine gewöhnliche Datei.";
}

// A file of /proc, /sys and their kind: the kernel's view of something, whose read may wait for good.
inline std::string InputOnPseudoFileSystem(const std::string& strPath)
{
    return "Die Datei '" + strPath +
           "' ist keine gewöhnliche Datei, sondern gehört zu einem Systemdateisystem wie /proc oder /sys.";
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

inline std::string OutOfMemory(const std::string& strPath)
{
    return "Für die Datei '" + strPath + "' reicht der Arbeitsspeicher nicht.";
}

inline std::string OutputNotWritten(const std::string& strOutputPath, const std::string& strReason)
{
    return "Die Ausgabedatei '" + strOutputPath + "' kann nicht geschrieben werden: " + strReason;
}

} // namespace brasko::messages

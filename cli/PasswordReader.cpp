#include "PasswordReader.h"

#include "CliMessages.h"
#include "FailureText.h"
#include "FileHandle.h"
#include "TerminalPrompt.h"
#include "TerminalText.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <string_view>
#include <unistd.h>

namespace brasko::cli {

CSecretText::CSecretText() : m_buffer(kMaxLineBytes) {}

int CSecretText::ReadFirstLine(int fd, bool& bLineEnd)
{
    // Small reads, so that little is read beyond the line; what is, is wiped at once.
    constexpr std::size_t kChunk = 256;
    bLineEnd = false;
    while (m_buffer.Size() < kMaxLineBytes) {
        const std::size_t nOld = m_buffer.Size();
        m_buffer.Resize(nOld + std::min(kChunk, kMaxLineBytes - nOld));
        unsigned char* pBegin = m_buffer.Data() + nOld;
        const ssize_t nRead = ::read(fd, pBegin, m_buffer.Size() - nOld);
        const int nError = nRead < 0 ? errno : 0;
        unsigned char* pEnd = pBegin + (nRead > 0 ? nRead : 0);
        const unsigned char* pLineEnd = std::find(pBegin, pEnd, '\n');
        bLineEnd = pLineEnd != pEnd;
        Truncate(static_cast<std::size_t>(pLineEnd - m_buffer.Data()));
        if (nError == EINTR)
            continue;
        if (nError != 0)
            return nError;
        if (nRead == 0 || bLineEnd)
            break;
    }
    if (bLineEnd && Get().ends_with('\r'))
        Truncate(m_buffer.Size() - 1);
    return 0;
}

void CSecretText::Truncate(std::size_t nSize)
{
    if (nSize < m_buffer.Size())
        m_buffer.Resize(nSize);
}

void CSecretText::RemovePrefix(std::size_t nSize)
{
    nSize = std::min(nSize, m_buffer.Size());
    std::copy(m_buffer.Data() + nSize, m_buffer.Data() + m_buffer.Size(), m_buffer.Data());
    Truncate(m_buffer.Size() - nSize);
}

namespace {

// The first line of a password file or of standard input. A leading byte-order mark, as some editors
// write, is not part of the password. A source that gives nothing at all (not even a line end) is an error,
// not the empty password: it is what an exhausted standard input or a file not yet written looks like.
int ReadPasswordLine(int fd, CSecretText& password, bool& bEmpty)
{
    constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
    bool bLineEnd = false;
    const int nError = password.ReadFirstLine(fd, bLineEnd);
    if (password.Get().starts_with(kByteOrderMark))
        password.RemovePrefix(kByteOrderMark.size());
    bEmpty = nError == 0 && !bLineEnd && password.Get().empty();
    return nError;
}

} // namespace

bool ReadPassword(const SCommandLine& commandLine, CSecretText& password, std::string& strError)
{
    bool bEmpty = false;
    switch (commandLine.passwordSource) {
    case EPasswordSource::Stdin:
        if (const int nError = ReadPasswordLine(STDIN_FILENO, password, bEmpty); nError != 0) {
            strError = messages::PasswordReadFailed(SystemErrorText(nError));
            return false;
        }
        if (bEmpty)
            strError = messages::kPasswordStdinEmpty;
        return !bEmpty;
    case EPasswordSource::File: {
        const std::string strShownPath = EscapeForTerminal(commandLine.strPasswordFile);
        const CFileHandle file(::open(commandLine.strPasswordFile.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
        const int nError = file ? ReadPasswordLine(file.Get(), password, bEmpty) : errno;
        if (nError != 0) {
            strError = messages::PasswordFileFailed(strShownPath, SystemErrorText(nError));
            return false;
        }
        if (bEmpty)
            strError = messages::PasswordFileEmpty(strShownPath);
        return !bEmpty;
    }
    case EPasswordSource::Terminal:
        break;
    }
    return PromptOnTerminal(password, strError);
}

} // namespace brasko::cli

#pragma once

#include "CommandLine.h"
#include "SecureBuffer.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace brasko::cli {

// Longest line kept when reading a password; far more than the 24 characters that count.
inline constexpr std::size_t kMaxLineBytes = 4096;

// Text that is wiped when it goes out of scope, in a secure buffer: its storage is reserved once, locked in
// memory where the system allows (so that it is never swapped out), and never grows, so no copy is left
// behind in freed memory.
class CSecretText
{
public:
    CSecretText();
    ~CSecretText() = default;
    CSecretText(const CSecretText&) = delete;
    CSecretText& operator=(const CSecretText&) = delete;
    CSecretText(CSecretText&&) = delete;
    CSecretText& operator=(CSecretText&&) = delete;

    // Reads the first line of fd, without its line end ("\n" or "\r\n"), straight into the locked storage.
    // Stops at the first line end, at the end of the input, or after kMaxLineBytes. 0 or an errno value;
    // bLineEnd tells whether a line end was seen.
    int ReadFirstLine(int fd, bool& bLineEnd);
    void Truncate(std::size_t nSize);
    // Removes the first nSize bytes.
    void RemovePrefix(std::size_t nSize);
    std::string_view Get() const { return m_buffer.View(); }
    const CSecureBuffer& Buffer() const { return m_buffer; }

private:
    CSecureBuffer m_buffer;
};

// Reads the password from the source the command line names: standard input, a file, or a prompt on the
// terminal without echo. False with a German explanation in strError when there is none.
bool ReadPassword(const SCommandLine& commandLine, CSecretText& password, std::string& strError);

} // namespace brasko::cli

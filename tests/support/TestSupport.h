#pragma once

#include "MessageSink.h"

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace brasko::test {

// Records every message instead of showing it.
class CRecordingMessageSink : public IMessageSink
{
public:
    void ShowMessage(const std::string& strText, EMessageIcon icon) override
    {
        m_messages.emplace_back(strText, icon);
    }
    std::vector<std::pair<std::string, EMessageIcon>> m_messages;
};

// A fresh folder per test, removed afterwards.
class CTempDir
{
public:
    CTempDir();
    ~CTempDir();
    CTempDir(const CTempDir&) = delete;
    CTempDir& operator=(const CTempDir&) = delete;
    CTempDir(CTempDir&&) = delete;
    CTempDir& operator=(CTempDir&&) = delete;

    const std::filesystem::path& Path() const { return m_path; }
    std::string operator/(const std::string& strName) const { return (m_path / strName).string(); }
    // Names in the folder, sorted.
    std::vector<std::string> List() const;

private:
    std::filesystem::path m_path;
};

std::string ReadFileBytes(const std::string& strPath);
void WriteFileBytes(const std::string& strPath, const std::string& strBytes);
std::string RandomBytes(std::size_t nSize, unsigned nSeed);

// German text with umlauts (UTF-8), nSize bytes: a plaintext every check must take for real content.
std::string GermanText(std::size_t nSize);
std::string ToHex(const std::string& strBytes);
std::string FromHex(const std::string& strHex);

// Runs a command line through the shell; its exit status (or -1).
int RunShell(const std::string& strCommand);

// The independent oracle: Triple-DES ECB without padding by the openssl command line, under a key given
// as 24 raw bytes. Data must be a multiple of 8 bytes.
std::string OpenSslEncrypt(const std::string& strKey, const std::string& strPlain);
std::string OpenSslDecrypt(const std::string& strKey, const std::string& strCipher);

// The decryption the old tool gave, built block by block from the oracle: whole blocks decrypted on
// their own, a short final chunk laid over the previous plaintext block (zeros before the first).
std::string ExpectedPlaintext(const std::string& strKey, const std::string& strCipher);

// Whether the process's writable memory (heap, stacks, anonymous and data mappings) holds the bytes whose
// every byte XOR nMask is strMasked; memory locked against swapping (a secure buffer) only with bLockedToo.
// The test never holds the plain bytes itself, so that only a copy made by the code under test is found.
bool WritableMemoryHolds(const std::string& strMasked, unsigned char nMask, bool bLockedToo);

} // namespace brasko::test

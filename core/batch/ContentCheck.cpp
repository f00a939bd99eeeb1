#include "ContentCheck.h"

#include "FileHandle.h"
#include "Messages.h"
#include "TripleDes.h"

#include <openssl/crypto.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <vector>

namespace brasko {

namespace {

// Plaintext bytes that are wiped when they go out of scope.
class CSecretBuffer
{
public:
    explicit CSecretBuffer(std::size_t nSize) : m_bytes(nSize) {}
    ~CSecretBuffer() { OPENSSL_cleanse(m_bytes.data(), m_bytes.size()); }
    CSecretBuffer(const CSecretBuffer&) = delete;
    CSecretBuffer& operator=(const CSecretBuffer&) = delete;
    CSecretBuffer(CSecretBuffer&&) = delete;
    CSecretBuffer& operator=(CSecretBuffer&&) = delete;

    unsigned char* Data() { return m_bytes.data(); }

private:
    std::vector<unsigned char> m_bytes;
};

} // namespace

SDecryptOutcome CheckFileContent(const std::string& strInputPath, const std::string& strPassword,
                                 IMessageSink& messages)
{
    CTripleDesDecryptor cipher;
    {
        const CTripleDesKey key = DeriveKey(strPassword);
        if (!cipher.Init(key))
            return SDecryptOutcome{EDecryptError::CipherSetup, 0};
    }
    struct stat info
    {
    };
    EDecryptError failure = EDecryptError::None;
    const CFileHandle input = OpenInputFile(strInputPath, info, failure);
    if (!input) {
        const int nError = errno;
        messages.ShowMessage(messages::FileNotFound(strInputPath), EMessageIcon::Default);
        return SDecryptOutcome{failure, nError};
    }

    CSecretBuffer buffer(kPlausibilitySampleSize);
    const ssize_t nRead = ReadFully(input.Get(), buffer.Data(), kPlausibilitySampleSize);
    if (nRead < 0)
        return SDecryptOutcome{EDecryptError::Read, errno};
    const auto nBytes = static_cast<std::size_t>(nRead);
    const std::size_t nWhole = nBytes - nBytes % kBlockSize;
    if (nWhole > 0 && !cipher.Decrypt(buffer.Data(), buffer.Data(), nWhole))
        return SDecryptOutcome{EDecryptError::CipherSetup, 0};
    // A short final chunk (only in a file shorter than the sample, which is whole blocks) is laid over the
    // previous plaintext block, zeros before the first, and decrypted with it, as DecryptFile does.
    if (const std::size_t nRest = nBytes - nWhole; nRest > 0) {
        std::array<unsigned char, kBlockSize> block{};
        if (nWhole > 0)
            std::copy_n(buffer.Data() + nWhole - kBlockSize, kBlockSize, block.begin());
        std::copy_n(buffer.Data() + nWhole, nRest, block.begin());
        const bool bDecrypted = cipher.Decrypt(block.data(), block.data(), kBlockSize);
        std::copy_n(block.begin(), nRest, buffer.Data() + nWhole);
        OPENSSL_cleanse(block.data(), block.size());
        if (!bDecrypted)
            return SDecryptOutcome{EDecryptError::CipherSetup, 0};
    }
    SDecryptOutcome outcome;
    outcome.plausibility = JudgePlaintext({buffer.Data(), nBytes});
    return outcome;
}

} // namespace brasko

#include "ContentCheck.h"

#include "ChunkDecryptor.h"
#include "FileHandle.h"
#include "Messages.h"
#include "SecureBuffer.h"
#include "TripleDes.h"

#include <cerrno>

namespace brasko {

SDecryptOutcome CheckFileContent(const std::string& strInputPath, std::string_view password,
                                 IMessageSink& messages, EPlausibilityDetail detail)
{
    CTripleDesDecryptor cipher;
    {
        const CTripleDesKey key = DeriveKey(password);
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

    // The sample is whole blocks, so only a file shorter than it has a short final chunk in it.
    CSecureBuffer buffer(kPlausibilitySampleSize, EMemoryLock::None);
    const ssize_t nRead = ReadFully(input.Get(), buffer.Data(), buffer.Capacity());
    if (nRead < 0)
        return SDecryptOutcome{EDecryptError::Read, errno};
    buffer.Resize(static_cast<std::size_t>(nRead));
    // For the verdict alone the first sample is decrypted first, and the rest only when that is undecided.
    CChunkDecryptor chunks;
    SDecryptOutcome outcome;
    std::size_t nDone = 0;
    if (detail == EPlausibilityDetail::Verdict && buffer.Size() > kPlausibilityFirstSampleSize) {
        if (!chunks.Decrypt(cipher, buffer.Data(), kPlausibilityFirstSampleSize))
            return SDecryptOutcome{EDecryptError::CipherSetup, 0};
        nDone = kPlausibilityFirstSampleSize;
        if (PlainlyNotRandom(buffer.Bytes().first(nDone))) {
            outcome.plausibility.verdict = EPlausibility::Plausible;
            return outcome;
        }
    }
    if (!chunks.Decrypt(cipher, buffer.Data() + nDone, buffer.Size() - nDone))
        return SDecryptOutcome{EDecryptError::CipherSetup, 0};
    outcome.plausibility = JudgePlaintext(buffer.Bytes(), detail);
    return outcome;
}

} // namespace brasko

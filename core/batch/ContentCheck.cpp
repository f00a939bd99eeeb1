#include "ContentCheck.h"

#include "ChunkDecryptor.h"
#include "FileHandle.h"
#include "Messages.h"
#include "SecureBuffer.h"
#include "TripleDes.h"

#include <cerrno>

namespace brasko {

SDecryptOutcome CheckFileContent(const std::string& strInputPath, std::string_view password,
                                 IMessageSink& messages, const StopAskedFn& stopAsked,
                                 EPlausibilityDetail detail)
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

    // The sample is whole blocks, so only a file shorter than it has a short final chunk in it. For the
    // verdict alone the first sample is read and decrypted first, and the rest only when that is undecided.
    CSecureBuffer buffer(kPlausibilitySampleSize, EMemoryLock::None);
    const std::size_t nFirst =
        detail == EPlausibilityDetail::Verdict ? kPlausibilityFirstSampleSize : buffer.Capacity();
    ssize_t nRead = ReadFully(input.Get(), buffer.Data(), nFirst, stopAsked);
    if (nRead < 0 && errno == EINTR)
        return SDecryptOutcome{EDecryptError::Cancelled, ECANCELED};
    if (nRead < 0)
        return SDecryptOutcome{EDecryptError::Read, errno};
    buffer.Resize(static_cast<std::size_t>(nRead));
    CChunkDecryptor chunks;
    SDecryptOutcome outcome;
    if (buffer.Size() == nFirst && nFirst < buffer.Capacity()) {
        if (!chunks.Decrypt(cipher, buffer.Data(), nFirst))
            return SDecryptOutcome{EDecryptError::CipherSetup, 0};
        if (PlainlyNotRandom(buffer.Bytes())) {
            outcome.plausibility.verdict = EPlausibility::Plausible;
            return outcome;
        }
        nRead = ReadFully(input.Get(), buffer.Data() + nFirst, buffer.Capacity() - nFirst, stopAsked);
        if (nRead < 0 && errno == EINTR)
            return SDecryptOutcome{EDecryptError::Cancelled, ECANCELED};
        if (nRead < 0)
            return SDecryptOutcome{EDecryptError::Read, errno};
        buffer.Resize(nFirst + static_cast<std::size_t>(nRead));
        if (!chunks.Decrypt(cipher, buffer.Data() + nFirst, static_cast<std::size_t>(nRead)))
            return SDecryptOutcome{EDecryptError::CipherSetup, 0};
    } else if (!chunks.Decrypt(cipher, buffer.Data(), buffer.Size())) {
        return SDecryptOutcome{EDecryptError::CipherSetup, 0};
    }
    outcome.plausibility = JudgePlaintext(buffer.Bytes(), detail);
    return outcome;
}

} // namespace brasko

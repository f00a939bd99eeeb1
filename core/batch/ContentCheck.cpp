#include "ContentCheck.h"

#include "ChunkDecryptor.h"
#include "FileHandle.h"
#include "Messages.h"
#include "SecureBuffer.h"
#include "TripleDes.h"

#include <cerrno>

namespace brasko {

SDecryptOutcome CheckFileContent(const std::string& strInputPath, std::string_view password,
                                 IMessageSink& messages, const StopAskedFn& stopAsked)
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
    const ssize_t nRead = ReadFully(input.Get(), buffer.Data(), buffer.Capacity(), stopAsked);
    if (nRead < 0 && errno == EINTR)
        return SDecryptOutcome{EDecryptError::Cancelled, ECANCELED};
    if (nRead < 0)
        return SDecryptOutcome{EDecryptError::Read, errno};
    buffer.Resize(static_cast<std::size_t>(nRead));
    if (CChunkDecryptor chunks; !chunks.Decrypt(cipher, buffer.Data(), buffer.Size()))
        return SDecryptOutcome{EDecryptError::CipherSetup, 0};
    SDecryptOutcome outcome;
    outcome.plausibility = JudgePlaintext(buffer.Bytes());
    return outcome;
}

} // namespace brasko

#pragma once

#include "AtomicOutputFile.h"
#include "DecryptOutcome.h"
#include "Plausibility.h"
#include "ProgressSink.h"
#include "TripleDes.h"

#include <cstddef>
#include <cstdint>

namespace brasko {

// Bytes read, decrypted and written as one piece. An input that does not fill its first chunk is decrypted
// on the calling thread without starting any other; one that does goes through the parallel pipeline.
inline constexpr std::size_t kChunkSize = std::size_t{256} << 10;

// The number of threads that decrypt for a jobs setting: 0 means one per hardware thread the process may
// use, and no setting gives more than that.
unsigned EffectiveJobs(unsigned nJobs);

// Where the plaintext goes, in order: the atomic output file, or a descriptor such as standard output.
class IPlaintextOutput
{
public:
    // 0 or an errno value.
    virtual int Write(const void* pData, std::size_t nSize) = 0;

protected:
    IPlaintextOutput() = default;
    ~IPlaintextOutput() = default;
    IPlaintextOutput(const IPlaintextOutput&) = default;
    IPlaintextOutput& operator=(const IPlaintextOutput&) = default;
    IPlaintextOutput(IPlaintextOutput&&) = default;
    IPlaintextOutput& operator=(IPlaintextOutput&&) = default;
};

// Writes to a descriptor that is not the caller's to commit or discard (a pipe): what is written stays.
class CDescriptorOutput final : public IPlaintextOutput
{
public:
    explicit CDescriptorOutput(int fd) : m_fd(fd) {}
    int Write(const void* pData, std::size_t nSize) override;

private:
    int m_fd;
};

// Decrypts the whole input into the output, chunk by chunk, on up to nJobs threads (as EffectiveJobs), the
// output written in order, with one chunk buffer per thread. nTotal is the size progress is reported against;
// the input is read to its end whatever its size claims. Failures are those of the first chunk that fails, as
// if it ran on one thread. pSample, when given, receives the start of the plaintext as it is written.
SDecryptOutcome DecryptStream(int fdInput, CAtomicOutputFile& output, CTripleDesDecryptor& cipher,
                              std::uint64_t nTotal, IProgressSink* pProgress, unsigned nJobs,
                              CPlaintextSample* pSample = nullptr);
SDecryptOutcome DecryptStream(int fdInput, IPlaintextOutput& output, CTripleDesDecryptor& cipher,
                              std::uint64_t nTotal, IProgressSink* pProgress, unsigned nJobs,
                              CPlaintextSample* pSample = nullptr);

} // namespace brasko

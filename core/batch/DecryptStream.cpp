#include "DecryptStream.h"

#include "ChunkDecryptor.h"
#include "FileHandle.h"
#include "SecureBuffer.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <new>
#include <sched.h>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace brasko {

namespace {

// The buffer of one chunk. What it held is wiped when it is released; bytes it never held are left alone,
// as touching a whole chunk would cost a small file more than its decryption. Not locked, for the same
// reason.
CSecureBuffer ChunkBuffer()
{
    return CSecureBuffer(kChunkSize, EMemoryLock::None);
}

// The chunk buffer of the calling thread, kept from file to file so that a file costs no memory mapping
// of its own; what a file left in it is wiped when its stream ends (CThreadChunk).
class CThreadChunk
{
public:
    CThreadChunk()
    {
        if (Buffer().Capacity() == 0)
            Buffer() = ChunkBuffer();
    }
    ~CThreadChunk() { Buffer().Resize(0); }
    CThreadChunk(const CThreadChunk&) = delete;
    CThreadChunk& operator=(const CThreadChunk&) = delete;
    CThreadChunk(CThreadChunk&&) = delete;
    CThreadChunk& operator=(CThreadChunk&&) = delete;

    static CSecureBuffer& Buffer()
    {
        static thread_local CSecureBuffer buffer;
        return buffer;
    }
};

SDecryptOutcome Failure(EDecryptError error, int nSystemError)
{
    return SDecryptOutcome{error, nSystemError, {}};
}

bool CancelRequested(IProgressSink* pProgress)
{
    return pProgress != nullptr && pProgress->IsCancelRequested();
}

// One chunk of the input: nBytes read, or nReadError when the read failed.
struct SChunkRead
{
    std::size_t nBytes = 0;
    int nReadError = 0;
};

// A read that waits for its file (a hung network or FUSE server, a pipe) ends when a stop is asked for and a
// signal interrupts it; that read fails with ECANCELED, which ends the file as cancelled.
SChunkRead ReadChunk(int fdInput, CSecureBuffer& buffer, IProgressSink* pProgress)
{
    StopAskedFn stopAsked;
    if (pProgress != nullptr)
        stopAsked = [pProgress] { return pProgress->IsCancelRequested(); };
    const ssize_t nRead = ReadFully(fdInput, buffer.Data(), buffer.Capacity(), stopAsked);
    if (nRead < 0)
        return SChunkRead{0, errno == EINTR ? ECANCELED : errno};
    buffer.Resize(static_cast<std::size_t>(nRead));
    return SChunkRead{static_cast<std::size_t>(nRead), 0};
}

SDecryptOutcome ReadFailure(int nReadError)
{
    return Failure(nReadError == ECANCELED ? EDecryptError::Cancelled : EDecryptError::Read, nReadError);
}

// The atomic output file as the stream's output.
class CAtomicOutput final : public IPlaintextOutput
{
public:
    explicit CAtomicOutput(CAtomicOutputFile& file) : m_file(file) {}
    int Write(const void* pData, std::size_t nSize) override { return m_file.Write(pData, nSize); }

private:
    CAtomicOutputFile& m_file;
};

// Writes chunks in input order, their whole blocks decrypted already; the chunk decryptor finishes each
// (a short final chunk) on the way.
class CChunkWriter
{
public:
    CChunkWriter(IPlaintextOutput& output, std::uint64_t nTotal, IProgressSink* pProgress,
                 CPlaintextSample* pSample)
        : m_output(output), m_nTotal(nTotal), m_pProgress(pProgress), m_pSample(pSample)
    {}

    SDecryptOutcome Write(unsigned char* pData, std::size_t nBytes, CTripleDesDecryptor& cipher)
    {
        if (!m_chunks.Finish(cipher, pData, nBytes))
            return Failure(EDecryptError::CipherSetup, 0);
        if (m_pSample != nullptr)
            m_pSample->Append(pData, nBytes);
        if (const int nError = m_output.Write(pData, nBytes); nError != 0)
            return Failure(EDecryptError::Write, nError);
        m_nDone += nBytes;
        if (m_pProgress != nullptr)
            m_pProgress->OnBytesDone(m_nDone, m_nTotal);
        return {};
    }

private:
    IPlaintextOutput& m_output;
    std::uint64_t m_nTotal;
    IProgressSink* m_pProgress;
    CPlaintextSample* m_pSample;
    std::uint64_t m_nDone = 0;
    CChunkDecryptor m_chunks;
};

// Decrypts on the calling thread, starting with a chunk already read into pBuffer.
SDecryptOutcome DecryptOnCallingThread(int fdInput, CSecureBuffer& buffer, SChunkRead read,
                                       CTripleDesDecryptor& cipher, CChunkWriter& writer,
                                       IProgressSink* pProgress)
{
    unsigned char* pBuffer = buffer.Data();
    for (;;) {
        if (read.nReadError != 0)
            return ReadFailure(read.nReadError);
        if (read.nBytes == 0)
            return {};
        if (!CChunkDecryptor::DecryptBlocks(cipher, pBuffer, read.nBytes))
            return Failure(EDecryptError::CipherSetup, 0);
        if (SDecryptOutcome outcome = writer.Write(pBuffer, read.nBytes, cipher); !outcome.Succeeded())
            return outcome;
        if (read.nBytes < kChunkSize)
            return {}; // the end of the file: a short read happens only there
        if (CancelRequested(pProgress))
            return Failure(EDecryptError::Cancelled, ECANCELED);
        read = ReadChunk(fdInput, buffer, pProgress);
    }
}

// One thread's share of the pipeline: its buffer, reused for every chunk it takes, and its own copy of the
// cipher.
struct SChunk
{
    CSecureBuffer* pBuffer = nullptr; // &ownBuffer, or the calling thread's buffer
    CSecureBuffer ownBuffer;
    CTripleDesDecryptor cipher;
};

// Every thread reads the next chunk (one reader at a time, in input order), decrypts it, and writes it when
// its turn comes (one writer at a time, in input order): reading, decrypting and writing overlap, each
// chunk stays in the one buffer it was read into, and memory is one chunk per thread whatever the file's
// size. Every failure is decided at the write, in input order, so that the outcome is the one the calling
// thread alone would have met; after it no more is read and the chunks in flight are dropped.
class CChunkPipeline
{
public:
    CChunkPipeline(int fdInput, CChunkWriter& writer, IProgressSink* pProgress)
        : m_fdInput(fdInput), m_writer(writer), m_pProgress(pProgress)
    {}

    // Makes nThreads shares, each with a copy of the cipher; the calling thread's buffer, holding the
    // chunk read already, goes first.
    SDecryptOutcome Prepare(unsigned nThreads, const CTripleDesDecryptor& cipher, CSecureBuffer& first,
                            SChunkRead firstRead)
    {
        try {
            m_chunks.resize(nThreads);
            for (SChunk& chunk : m_chunks) {
                if (&chunk == &m_chunks.front()) {
                    chunk.pBuffer = &first;
                } else {
                    chunk.ownBuffer = ChunkBuffer();
                    chunk.pBuffer = &chunk.ownBuffer;
                }
                if (!chunk.cipher.InitFrom(cipher))
                    return Failure(EDecryptError::CipherSetup, 0);
            }
        } catch (const std::bad_alloc&) {
            return OutOfMemoryOutcome();
        }
        m_firstRead = firstRead;
        return {};
    }

    SDecryptOutcome Run()
    {
        std::vector<std::thread> threads;
        try {
            threads.reserve(m_chunks.size() - 1);
            for (std::size_t i = 1; i < m_chunks.size(); ++i)
                threads.emplace_back([this, i] { Work(m_chunks[i], false); });
        } catch (const std::exception&) {
            // Fewer threads than asked for: those there are, the calling one at least, do the work.
        }
        Work(m_chunks.front(), true);
        for (std::thread& thread : threads)
            thread.join();
        if (m_bCancelled && m_outcome.Succeeded())
            return Failure(EDecryptError::Cancelled, ECANCELED);
        return m_outcome;
    }

private:
    void Work(SChunk& chunk, bool bHasFirst)
    {
        for (;;) {
            std::size_t nIndex = 0;
            SChunkRead read;
            if (bHasFirst) {
                bHasFirst = false;
                read = m_firstRead;
            } else if (!Read(chunk, nIndex, read)) {
                return;
            }
            const bool bDecrypted =
                read.nReadError == 0 && !m_bFailed.load(std::memory_order_relaxed) &&
                CChunkDecryptor::DecryptBlocks(chunk.cipher, chunk.pBuffer->Data(), read.nBytes);
            Write(chunk, nIndex, read, bDecrypted);
        }
    }

    // Reads the next chunk into the thread's buffer; false when there is none to read (the input has
    // ended, a chunk failed, or the batch was cancelled).
    bool Read(SChunk& chunk, std::size_t& nIndex, SChunkRead& read)
    {
        const std::lock_guard lock(m_readMutex);
        if (m_bInputDone || m_bFailed.load(std::memory_order_relaxed))
            return false;
        // Under the writer's lock as well: the progress sink hears one call at a time.
        bool bCancel = false;
        {
            const std::lock_guard writeLock(m_writeMutex);
            bCancel = CancelRequested(m_pProgress);
        }
        if (bCancel) {
            m_bCancelled = true;
            m_bInputDone = true;
            return false;
        }
        read = ReadChunk(m_fdInput, *chunk.pBuffer, m_pProgress);
        // A failed or short read ends the input, as on the calling thread.
        m_bInputDone = read.nReadError != 0 || read.nBytes < kChunkSize;
        if (read.nReadError == 0 && read.nBytes == 0)
            return false;
        nIndex = m_nRead++;
        return true;
    }

    // Waits for the chunk's turn and writes it, or decides the failure it brings.
    void Write(SChunk& chunk, std::size_t nIndex, SChunkRead read, bool bDecrypted)
    {
        std::unique_lock lock(m_writeMutex);
        m_turn.wait(lock, [&] { return m_nWritten == nIndex; });
        if (m_outcome.Succeeded()) {
            if (read.nReadError != 0)
                m_outcome = ReadFailure(read.nReadError);
            else if (!bDecrypted)
                m_outcome = Failure(EDecryptError::CipherSetup, 0);
            else
                m_outcome = m_writer.Write(chunk.pBuffer->Data(), read.nBytes, chunk.cipher);
            if (!m_outcome.Succeeded())
                m_bFailed.store(true, std::memory_order_relaxed);
        }
        ++m_nWritten;
        lock.unlock();
        m_turn.notify_all();
    }

    int m_fdInput;
    CChunkWriter& m_writer;
    IProgressSink* m_pProgress;
    std::vector<SChunk> m_chunks;
    SChunkRead m_firstRead; // chunk 0, in the calling thread's buffer
    std::atomic<bool> m_bFailed{false};
    // Under m_readMutex: the reader's state.
    std::mutex m_readMutex;
    std::size_t m_nRead = 1; // chunk 0 was read before
    bool m_bInputDone = false;
    bool m_bCancelled = false;
    // Under m_writeMutex: the writer's state.
    std::mutex m_writeMutex;
    std::condition_variable m_turn;
    std::size_t m_nWritten = 0;
    SDecryptOutcome m_outcome;
};

} // namespace

int CDescriptorOutput::Write(const void* pData, std::size_t nSize)
{
    return WriteFully(m_fd, pData, nSize) ? 0 : errno;
}

unsigned EffectiveJobs(unsigned nJobs)
{
    if (nJobs == 1)
        return 1;
    // Counted from the affinity mask, as TBB counts them, without starting TBB: a run of small files never
    // needs it.
    static const unsigned nHardware = [] {
        cpu_set_t cpus;
        CPU_ZERO(&cpus);
        if (::sched_getaffinity(0, sizeof cpus, &cpus) != 0)
            return 1U;
        return static_cast<unsigned>(std::max(1, CPU_COUNT(&cpus)));
    }();
    return nJobs == 0 ? nHardware : std::min(nJobs, nHardware);
}

SDecryptOutcome DecryptStream(int fdInput, CAtomicOutputFile& output, CTripleDesDecryptor& cipher,
                              std::uint64_t nTotal, IProgressSink* pProgress, unsigned nJobs,
                              CPlaintextSample* pSample)
{
    CAtomicOutput atomicOutput(output);
    return DecryptStream(fdInput, atomicOutput, cipher, nTotal, pProgress, nJobs, pSample);
}

SDecryptOutcome DecryptStream(int fdInput, IPlaintextOutput& output, CTripleDesDecryptor& cipher,
                              std::uint64_t nTotal, IProgressSink* pProgress, unsigned nJobs,
                              CPlaintextSample* pSample)
{
    CChunkWriter writer(output, nTotal, pProgress, pSample);
    const CThreadChunk threadChunk;
    CSecureBuffer& buffer = CThreadChunk::Buffer();
    const SChunkRead firstRead = ReadChunk(fdInput, buffer, pProgress);
    // The size the file system reports is not trusted (it is 0 for many files under /proc): what decides is
    // whether the input goes on beyond its first chunk.
    if (nJobs != 1 && firstRead.nBytes == kChunkSize) {
        if (const unsigned nThreads = EffectiveJobs(nJobs); nThreads > 1) {
            CChunkPipeline pipeline(fdInput, writer, pProgress);
            if (SDecryptOutcome prepared = pipeline.Prepare(nThreads, cipher, buffer, firstRead);
                !prepared.Succeeded())
                return prepared;
            return pipeline.Run();
        }
    }
    return DecryptOnCallingThread(fdInput, buffer, firstRead, cipher, writer, pProgress);
}

} // namespace brasko

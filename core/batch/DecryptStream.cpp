#include "DecryptStream.h"

#include "ChunkDecryptor.h"
#include "FileHandle.h"
#include "OrderedPipeline.h"
#include "SecureBuffer.h"

#include <tbb/parallel_pipeline.h>
#include <tbb/task_arena.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cassert>
#include <cerrno>
#include <memory>
#include <mutex>
#include <new>
#include <sched.h>
#include <system_error>
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
// of its own; what a file left in it is wiped when its stream ends (CThreadChunk). A large file's pipeline
// takes it over, and the thread's next file makes a new one.
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

SChunkRead ReadChunk(int fdInput, CSecureBuffer& buffer)
{
    const ssize_t nRead = ReadFully(fdInput, buffer.Data(), buffer.Capacity());
    if (nRead < 0)
        return SChunkRead{0, errno};
    buffer.Resize(static_cast<std::size_t>(nRead));
    return SChunkRead{static_cast<std::size_t>(nRead), 0};
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
            return Failure(EDecryptError::Read, read.nReadError);
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
        read = ReadChunk(fdInput, buffer);
    }
}

// A buffer travelling through the pipeline, with its own cipher context for whichever thread decrypts it.
struct SChunk
{
    CSecureBuffer buffer = ChunkBuffer();
    CTripleDesDecryptor cipher;
    SChunkRead read;
    bool bDecrypted = false;
};

// An in-order reader, decryption on every thread of the arena, an in-order writer. The number of chunks
// in flight is that of the buffers, so memory stays fixed whatever the file's size. Every failure is
// decided by the writer, in input order, so that the outcome is the one the calling thread alone would
// have met; after it the reader stops and the chunks still in flight are dropped.
class CChunkPipeline
{
public:
    CChunkPipeline(int fdInput, CChunkWriter& writer, IProgressSink* pProgress)
        : m_fdInput(fdInput), m_writer(writer), m_pProgress(pProgress)
    {}

    // Makes nChunks chunks, each with a copy of the cipher; the chunk read already goes first.
    SDecryptOutcome Prepare(std::size_t nChunks, const CTripleDesDecryptor& cipher, CSecureBuffer first,
                            SChunkRead firstRead)
    {
        try {
            m_chunks.resize(nChunks);
            m_freeChunks.reserve(nChunks);
        } catch (const std::bad_alloc&) {
            return OutOfMemoryOutcome();
        }
        for (SChunk& chunk : m_chunks) {
            if (!chunk.cipher.InitFrom(cipher))
                return Failure(EDecryptError::CipherSetup, 0);
            if (&chunk != &m_chunks.front())
                m_freeChunks.push_back(&chunk);
        }
        m_chunks.front().buffer = std::move(first);
        m_chunks.front().read = firstRead;
        m_pFirst = &m_chunks.front();
        return {};
    }

    SDecryptOutcome Run(unsigned nThreads)
    {
        const auto readStage = [this](tbb::flow_control& control) { return Read(control); };
        const auto decryptStage = [this](SChunk* pChunk) { return Decrypt(pChunk); };
        const auto writeStage = [this](SChunk* pChunk) { Write(pChunk); };
        try {
            tbb::task_arena arena(static_cast<int>(nThreads));
            arena.execute([&] {
                RunOrderedPipeline<SChunk>(m_chunks.size(), &m_bInputDone, readStage, decryptStage,
                                           &m_outcome, writeStage);
            });
        } catch (const std::bad_alloc&) {
            // The threads or their memory could not be had; the output cannot be completed.
            return OutOfMemoryOutcome();
        } catch (const std::system_error& error) {
            return Failure(EDecryptError::Write, error.code().value());
        }
        if (m_bCancelled && m_outcome.Succeeded())
            return Failure(EDecryptError::Cancelled, ECANCELED);
        return m_outcome;
    }

private:
    // The pipeline lets a chunk be read only while fewer than all are in flight, and the writer puts a
    // chunk back before it leaves the pipeline, so the reader always finds one.
    SChunk* Take()
    {
        const std::lock_guard lock(m_freeChunksMutex);
        assert(!m_freeChunks.empty());
        SChunk* pChunk = m_freeChunks.back();
        m_freeChunks.pop_back();
        return pChunk;
    }

    void Release(SChunk* pChunk)
    {
        const std::lock_guard lock(m_freeChunksMutex);
        m_freeChunks.push_back(pChunk);
    }

    SChunk* Read(tbb::flow_control& control)
    {
        if (m_bInputDone || m_bFailed.load(std::memory_order_relaxed)) {
            control.stop();
            return nullptr;
        }
        SChunk* pChunk = std::exchange(m_pFirst, nullptr);
        if (pChunk == nullptr && CancelRequested(m_pProgress)) {
            m_bCancelled = true;
            control.stop();
            return nullptr;
        }
        if (pChunk == nullptr) {
            pChunk = Take();
            pChunk->read = ReadChunk(m_fdInput, pChunk->buffer);
        }
        // A failed or short read ends the input, as on the calling thread.
        m_bInputDone = pChunk->read.nReadError != 0 || pChunk->read.nBytes < kChunkSize;
        if (pChunk->read.nReadError == 0 && pChunk->read.nBytes == 0) {
            Release(pChunk);
            control.stop();
            return nullptr;
        }
        return pChunk;
    }

    SChunk* Decrypt(SChunk* pChunk)
    {
        pChunk->bDecrypted =
            pChunk->read.nReadError == 0 && !m_bFailed.load(std::memory_order_relaxed) &&
            CChunkDecryptor::DecryptBlocks(pChunk->cipher, pChunk->buffer.Data(), pChunk->read.nBytes);
        return pChunk;
    }

    void Write(SChunk* pChunk)
    {
        if (m_outcome.Succeeded()) {
            if (pChunk->read.nReadError != 0)
                m_outcome = Failure(EDecryptError::Read, pChunk->read.nReadError);
            else if (!pChunk->bDecrypted)
                m_outcome = Failure(EDecryptError::CipherSetup, 0);
            else
                m_outcome = m_writer.Write(pChunk->buffer.Data(), pChunk->read.nBytes, pChunk->cipher);
            if (!m_outcome.Succeeded())
                m_bFailed.store(true, std::memory_order_relaxed);
        }
        Release(pChunk);
    }

    int m_fdInput;
    CChunkWriter& m_writer;
    IProgressSink* m_pProgress;
    std::vector<SChunk> m_chunks;
    std::vector<SChunk*> m_freeChunks;
    std::mutex m_freeChunksMutex;
    std::atomic<bool> m_bFailed{false};
    SChunk* m_pFirst = nullptr; // the reader's state
    bool m_bInputDone = false;
    bool m_bCancelled = false;
    SDecryptOutcome m_outcome; // the writer's state
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
    const SChunkRead firstRead = ReadChunk(fdInput, buffer);
    // The size the file system reports is not trusted (it is 0 for many files under /proc): what decides is
    // whether the input goes on beyond its first chunk.
    if (nJobs != 1 && firstRead.nBytes == kChunkSize) {
        if (const unsigned nThreads = EffectiveJobs(nJobs); nThreads > 1) {
            CChunkPipeline pipeline(fdInput, writer, pProgress);
            const std::size_t nChunks = kChunksInFlightPerJob * nThreads + kExtraChunksInFlight;
            if (SDecryptOutcome prepared = pipeline.Prepare(nChunks, cipher, std::move(buffer), firstRead);
                !prepared.Succeeded())
                return prepared;
            return pipeline.Run(nThreads);
        }
    }
    return DecryptOnCallingThread(fdInput, buffer, firstRead, cipher, writer, pProgress);
}

} // namespace brasko

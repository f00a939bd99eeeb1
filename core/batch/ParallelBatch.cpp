#include "AtomicOutputFile.h"
#include "BatchRunners.h"
#include "OrderedPipeline.h"

#include <tbb/parallel_pipeline.h>
#include <tbb/task_arena.h>

#include <atomic>
#include <cerrno>
#include <exception>
#include <memory>
#include <mutex>
#include <vector>

namespace brasko {

namespace {

// Files in flight per thread when several files are decrypted at once: enough that a thread finds a file
// to start while earlier ones wait to be reported. Memory stays bounded: a finished file keeps only its
// messages until it is reported.
constexpr std::size_t kFilesInFlightPerThread = 4;

// The front end's sinks as the threads of a parallel batch see them: one call at a time, under one lock.
// Progress in bytes is passed on only for the file the batch reports next, the one "file i of n" names.
class CSharedFrontEnd
{
public:
    CSharedFrontEnd(IMessageSink& messages, IProgressSink* pProgress, IBatchObserver* pObserver)
        : m_messages(messages), m_pProgress(pProgress), m_pObserver(pObserver)
    {}

    std::mutex& Mutex() { return m_mutex; }
    IMessageSink& Messages() { return m_messages; }
    IProgressSink* Progress() { return m_pProgress; }
    IBatchObserver* Observer() { return m_pObserver; }

    // With the lock held.
    void StartReporting(std::size_t nIndex, std::size_t nCount, const std::string& strPath)
    {
        m_nCurrent.store(nIndex, std::memory_order_relaxed);
        if (m_pProgress != nullptr)
            m_pProgress->OnFileStarted(nIndex, nCount, strPath);
    }

    void BytesDone(std::size_t nIndex, std::uint64_t nDone, std::uint64_t nTotal)
    {
        if (m_pProgress == nullptr || nIndex != m_nCurrent.load(std::memory_order_relaxed))
            return;
        const std::lock_guard lock(m_mutex);
        if (nIndex == m_nCurrent.load(std::memory_order_relaxed))
            m_pProgress->OnBytesDone(nDone, nTotal);
    }

    // Asked by the threads that decrypt, at every file and chunk: while the front end is busy (a message
    // on screen, a file being reported) they go on without waiting, and ask again at the next chunk.
    bool CancelRequested()
    {
        if (m_bCancel.load(std::memory_order_relaxed) || m_pProgress == nullptr)
            return m_bCancel.load(std::memory_order_relaxed);
        const std::unique_lock lock(m_mutex, std::try_to_lock);
        if (lock.owns_lock() && m_pProgress->IsCancelRequested())
            m_bCancel.store(true, std::memory_order_relaxed);
        return m_bCancel.load(std::memory_order_relaxed);
    }

    // Asked before each file is reported: waits for the answer. Without the lock held.
    bool CancelRequestedNow()
    {
        if (m_bCancel.load(std::memory_order_relaxed) || m_pProgress == nullptr)
            return m_bCancel.load(std::memory_order_relaxed);
        const std::lock_guard lock(m_mutex);
        if (m_pProgress->IsCancelRequested())
            m_bCancel.store(true, std::memory_order_relaxed);
        return m_bCancel.load(std::memory_order_relaxed);
    }

private:
    std::mutex m_mutex;
    IMessageSink& m_messages;
    IProgressSink* m_pProgress;
    IBatchObserver* m_pObserver;
    std::atomic<std::size_t> m_nCurrent{0};
    std::atomic<bool> m_bCancel{false};
};

// One file of a parallel batch: what happened to it, kept until its turn to be reported comes.
class CFileRecord : public IMessageSink, public IProgressSink
{
public:
    CFileRecord(std::size_t nIndex, CSharedFrontEnd& frontEnd) : m_nIndex(nIndex), m_frontEnd(frontEnd) {}

    void ShowMessage(const std::string& strText, EMessageIcon icon) override
    {
        m_events.push_back(SEvent{false, strText, icon});
    }
    void OnBytesDone(std::uint64_t nDone, std::uint64_t nTotal) override
    {
        m_frontEnd.BytesDone(m_nIndex, nDone, nTotal);
    }
    bool IsCancelRequested() override { return m_frontEnd.CancelRequested(); }

    void Decrypt(const SBatchContext& context)
    {
        if (m_frontEnd.CancelRequested()) {
            m_outcome = SDecryptOutcome{EDecryptError::Cancelled, ECANCELED};
            return;
        }
        m_outcome = DecryptEntry(
            context, m_nIndex, *this, this,
            [this] {
                m_events.push_back(SEvent{true, {}, EMessageIcon::Default});
            },
            &m_pOutput);
    }

    // In the batch's order: puts the output in place. Outputs thus appear in the order of the batch, and
    // one not yet reported when the batch is cancelled is dropped.
    void Commit()
    {
        if (!m_pOutput)
            return;
        if (const int nError = m_pOutput->Commit(); nError != 0)
            m_outcome = SDecryptOutcome{EDecryptError::Write, nError, m_outcome.strOutputPath};
        m_pOutput.reset();
    }

    // With the front end's lock held: tells what happened.
    void Report(const std::string& strPath)
    {
        for (const SEvent& event : m_events) {
            if (!event.bInputOpened)
                m_frontEnd.Messages().ShowMessage(event.strText, event.icon);
            else if (m_frontEnd.Observer() != nullptr)
                m_frontEnd.Observer()->OnInputOpened(m_nIndex, strPath);
        }
    }

    std::size_t Index() const { return m_nIndex; }
    const SDecryptOutcome& Outcome() const { return m_outcome; }

private:
    struct SEvent
    {
        bool bInputOpened = false; // else a message
        std::string strText;
        EMessageIcon icon = EMessageIcon::Default;
    };

    std::size_t m_nIndex;
    CSharedFrontEnd& m_frontEnd;
    std::vector<SEvent> m_events;
    SDecryptOutcome m_outcome;
    std::unique_ptr<CAtomicOutputFile> m_pOutput; // written, not yet in place
};

// Several files at once: an in-order stage starts them, the threads of one arena decrypt them (a large
// file spreads over the threads by itself), and an in-order stage reports each when its turn comes. The
// number of files in flight is bounded, so a slow early file holds back at most that many.
class CParallelBatch
{
public:
    CParallelBatch(const SBatchContext& context, IMessageSink& messages, IProgressSink* pProgress,
                   IBatchObserver* pObserver)
        : m_context(context), m_paths(context.request.paths), m_messages(messages), m_pObserver(pObserver),
          m_frontEnd(messages, pProgress, pObserver), m_records(m_paths.size())
    {}

    SBatchResult Run(unsigned nThreads)
    {
        const auto startStage = [this](tbb::flow_control& control) { return Start(control); };
        const auto decryptStage = [this](CFileRecord* pRecord) {
            pRecord->Decrypt(m_context);
            return pRecord;
        };
        const auto reportStage = [this](CFileRecord* pRecord) { Report(pRecord); };
        {
            const std::lock_guard lock(m_frontEnd.Mutex());
            m_frontEnd.StartReporting(0, m_paths.size(), m_paths[0]);
        }
        try {
            tbb::task_arena arena(static_cast<int>(nThreads));
            arena.execute([&] {
                RunOrderedPipeline<CFileRecord>(kFilesInFlightPerThread * nThreads, &m_nNext, startStage,
                                                decryptStage, &m_nReported, reportStage);
            });
        } catch (const std::exception&) {
            // The threads or the records could not be had: what was not reported counts as failed.
            FailUnreported();
            return Summary(m_messages, m_result);
        }
        if (m_bCancelled || m_bStartStopped)
            return Cancelled(m_messages, m_result);
        return Summary(m_messages, m_result);
    }

private:
    CFileRecord* Start(tbb::flow_control& control)
    {
        if (m_nNext == m_paths.size() || m_frontEnd.CancelRequested()) {
            m_bStartStopped = m_nNext < m_paths.size();
            control.stop();
            return nullptr;
        }
        m_records[m_nNext] = std::make_unique<CFileRecord>(m_nNext, m_frontEnd);
        return m_records[m_nNext++].get();
    }

    void Report(CFileRecord* pRecord)
    {
        const std::size_t i = pRecord->Index();
        const std::unique_ptr<CFileRecord> record = std::move(m_records[i]);
        // As on one thread, a cancel asked for by the time a file's turn comes stops before that file.
        if (m_bCancelled || m_frontEnd.CancelRequestedNow()) {
            m_bCancelled = true;
            return;
        }
        if (record->Outcome().error != EDecryptError::Cancelled)
            record->Commit();
        const std::lock_guard lock(m_frontEnd.Mutex());
        record->Report(m_paths[i]);
        if (record->Outcome().error == EDecryptError::Cancelled) {
            m_bCancelled = true;
            return;
        }
        Count(m_result, record->Outcome());
        if (m_pObserver != nullptr)
            m_pObserver->OnFileFinished(i, m_paths[i], record->Outcome());
        m_nReported = i + 1;
        if (m_nReported < m_paths.size())
            m_frontEnd.StartReporting(m_nReported, m_paths.size(), m_paths[m_nReported]);
    }

    void FailUnreported()
    {
        const std::lock_guard lock(m_frontEnd.Mutex());
        for (std::size_t i = m_nReported; i < m_paths.size() && !m_bCancelled; ++i) {
            const SDecryptOutcome outcome = OutOfMemoryOutcome(m_context.plan.outputs[i]);
            Count(m_result, outcome);
            if (m_pObserver != nullptr)
                m_pObserver->OnFileFinished(i, m_paths[i], outcome);
        }
    }

    const SBatchContext& m_context;
    const std::vector<std::string>& m_paths;
    IMessageSink& m_messages;
    IBatchObserver* m_pObserver;
    CSharedFrontEnd m_frontEnd;
    // Owned here rather than by the pipeline, so that nothing is left behind should it end in an exception.
    std::vector<std::unique_ptr<CFileRecord>> m_records;
    SBatchResult m_result;
    std::size_t m_nNext = 0;     // the start stage's
    std::size_t m_nReported = 0; // the report stage's
    bool m_bStartStopped = false;
    bool m_bCancelled = false;
};

} // namespace

SBatchResult RunInParallel(const SBatchContext& context, unsigned nThreads, IMessageSink& messages,
                           IProgressSink* pProgress, IBatchObserver* pObserver)
{
    CParallelBatch batch(context, messages, pProgress, pObserver);
    return batch.Run(nThreads);
}

} // namespace brasko

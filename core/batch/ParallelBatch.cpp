#include "AtomicOutputFile.h"
#include "BatchRunners.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
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

    void Decrypt(const SBatchContext& context, SWorkerCache& cache)
    {
        if (m_frontEnd.CancelRequested()) {
            m_outcome = SDecryptOutcome{EDecryptError::Cancelled, ECANCELED};
            return;
        }
        m_outcome = DecryptEntry(
            context, cache, m_nIndex, *this, this,
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
    // Under the batch's lock: whether the file is decrypted and waits to be reported.
    void MarkFinished() { m_bFinished = true; }
    bool IsFinished() const { return m_bFinished; }

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
    bool m_bFinished = false;
};

// Several files at once: every thread takes the next file, decrypts it and goes on to the next, and
// whichever thread finds the batch's next file finished reports it, and the finished ones after it: the
// outputs are put in place and told in the batch's order without a thread waiting for another's file. A
// thread that finishes while another reports just leaves its file. The files in flight are bounded, so a slow
// early file holds back at most that many; only then does a thread wait. No thread pool is involved: files
// are handed out through one counter, not passed from thread to thread (a large file still spreads over
// threads of its own inside its decryption).
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
        m_nWindow = kFilesInFlightPerThread * nThreads;
        {
            const std::lock_guard lock(m_frontEnd.Mutex());
            m_frontEnd.StartReporting(0, m_paths.size(), m_paths[0]);
        }
        std::vector<std::thread> threads;
        const std::size_t nHelpers = std::min<std::size_t>(nThreads, m_paths.size()) - 1;
        try {
            threads.reserve(nHelpers);
            for (std::size_t i = 0; i < nHelpers; ++i)
                threads.emplace_back([this] { Work(); });
        } catch (const std::exception&) {
            // Fewer threads than asked for: those there are, the calling one at least, do the work.
        }
        Work();
        for (std::thread& thread : threads)
            thread.join();
        if (m_bBroken) {
            // The records could not be had: what was not reported counts as failed.
            FailUnreported();
            return Summary(m_messages, m_result);
        }
        if (m_bCancelled || m_bStartStopped)
            return Cancelled(m_messages, m_result);
        return Summary(m_messages, m_result);
    }

private:
    // One thread's loop: take a file, decrypt it, report what is due.
    void Work()
    {
        try {
            // Each thread its own: the files it takes are mostly neighbours in the batch's order.
            SWorkerCache cache(m_context);
            while (CFileRecord* pRecord = Take()) {
                pRecord->Decrypt(m_context, cache);
                Finish(pRecord->Index());
            }
        } catch (const std::exception&) {
            const std::lock_guard lock(m_mutex);
            m_bBroken = true;
            m_windowMoved.notify_all();
        }
    }

    // The next file, or nullptr once there is none or the batch has stopped. Waits while the window of
    // files in flight is full.
    CFileRecord* Take()
    {
        std::unique_lock lock(m_mutex);
        m_windowMoved.wait(lock, [this] {
            return Stopped() || m_nNext == m_paths.size() || m_nNext < m_nReported + m_nWindow;
        });
        if (Stopped() || m_nNext == m_paths.size())
            return nullptr;
        if (m_frontEnd.CancelRequested()) {
            m_bStartStopped = true;
            m_windowMoved.notify_all();
            return nullptr;
        }
        const std::size_t i = m_nNext++;
        m_records[i] = std::make_unique<CFileRecord>(i, m_frontEnd);
        return m_records[i].get();
    }

    bool Stopped() const { return m_bCancelled || m_bStartStopped || m_bBroken; }

    // File i is decrypted. Reports it, and the finished files after it, when it is the batch's next and no
    // other thread is reporting; else leaves that to the thread that is.
    void Finish(std::size_t i)
    {
        std::unique_lock lock(m_mutex);
        m_records[i]->MarkFinished();
        if (m_bReporting)
            return;
        m_bReporting = true;
        while (!m_bCancelled && m_nReported < m_nNext && m_records[m_nReported]->IsFinished()) {
            std::unique_ptr<CFileRecord> record = std::move(m_records[m_nReported]);
            lock.unlock();
            const bool bGoOn = Report(*record);
            record.reset();
            lock.lock();
            if (!bGoOn) {
                m_bCancelled = true;
                break;
            }
            ++m_nReported;
            m_windowMoved.notify_all();
        }
        m_bReporting = false;
        if (m_bCancelled)
            m_windowMoved.notify_all();
    }

    // Puts the output of the batch's next file in place and tells what happened; false when the batch is
    // cancelled instead. Only one thread at a time reports.
    bool Report(CFileRecord& record)
    {
        const std::size_t i = record.Index();
        // As on one thread, a cancel asked for by the time a file's turn comes stops before that file.
        if (m_frontEnd.CancelRequestedNow())
            return false;
        if (record.Outcome().error != EDecryptError::Cancelled)
            record.Commit();
        const std::lock_guard lock(m_frontEnd.Mutex());
        record.Report(m_paths[i]);
        if (record.Outcome().error == EDecryptError::Cancelled)
            return false;
        Count(m_result, record.Outcome());
        if (m_pObserver != nullptr)
            m_pObserver->OnFileFinished(i, m_paths[i], record.Outcome());
        if (i + 1 < m_paths.size())
            m_frontEnd.StartReporting(i + 1, m_paths.size(), m_paths[i + 1]);
        return true;
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
    // Owned here, so that nothing is left behind when the batch stops early: a record not reported drops
    // its output.
    std::vector<std::unique_ptr<CFileRecord>> m_records;
    SBatchResult m_result; // the reporting thread's
    // Under m_mutex: the files handed out and reported, who reports, and why the batch stopped.
    std::mutex m_mutex;
    std::condition_variable m_windowMoved;
    std::size_t m_nWindow = 1;
    std::size_t m_nNext = 0;
    std::size_t m_nReported = 0;
    bool m_bReporting = false;
    bool m_bStartStopped = false;
    bool m_bCancelled = false;
    bool m_bBroken = false;
};

} // namespace

SBatchResult RunInParallel(const SBatchContext& context, unsigned nThreads, IMessageSink& messages,
                           IProgressSink* pProgress, IBatchObserver* pObserver)
{
    CParallelBatch batch(context, messages, pProgress, pObserver);
    return batch.Run(nThreads);
}

} // namespace brasko

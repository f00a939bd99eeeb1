#include "AtomicOutputFile.h"
#include "BatchRunners.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <sys/resource.h>
#include <thread>
#include <vector>

namespace brasko {

namespace {

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

    // A figure that comes while the front end is busy (reporting a file) is left out rather than waited
    // for: the next figure, or the next file's start, follows soon. Waiting here put the thread decrypting
    // the file due next to sleep behind the one reporting, hundreds of times per 20 000 small files.
    void BytesDone(std::size_t nIndex, std::uint64_t nDone, std::uint64_t nTotal)
    {
        if (m_pProgress == nullptr || nIndex != m_nCurrent.load(std::memory_order_relaxed))
            return;
        const std::unique_lock lock(m_mutex, std::try_to_lock);
        if (lock.owns_lock() && nIndex == m_nCurrent.load(std::memory_order_relaxed))
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

// Files in flight at most: enough per thread that one thread held up (by a large file, or by the scheduler
// for time slices of other programs: at load 8, 20 000 small files cost about 2 000 futex calls with 64 per
// thread, some tens with 256) does not soon stop the others, and few enough that the descriptors they hold
// stay a small part of the process's allowance. A finished file waiting for its turn holds up to three (its
// output, the output's folder, the file it replaces), a file being decrypted its input too.
std::size_t FilesInFlight(unsigned nThreads)
{
    constexpr std::size_t kMostPerThread = 256;
    constexpr std::size_t kLeastPerThread = 4;
    constexpr std::size_t kDescriptorsPerFile = 8; // with room to spare for what else is open
    std::size_t nFiles = kMostPerThread * nThreads;
    struct rlimit limit
    {
    };
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
        nFiles = std::min<std::size_t>(nFiles, limit.rlim_cur / kDescriptorsPerFile);
    return std::max<std::size_t>(nFiles, kLeastPerThread * nThreads);
}

// Several files at once: every thread takes the next file, decrypts it and goes on to the next, and
// whichever thread finds the batch's next file finished reports it, and the finished ones after it: the
// outputs are put in place and told in the batch's order without a thread waiting for another's file. A
// thread that finishes while another reports just leaves its file. The files in flight are bounded, so a slow
// early file holds back at most that many; only then does a thread wait. No thread pool is involved: files
// are handed out through one counter, not passed from thread to thread (a large file still spreads over
// threads of its own inside its decryption).
// Taking a file, marking it finished and passing the reporting on are atomic operations, not a lock: with
// thousands of small files a lock taken twice per file puts the threads to sleep on each other, where two
// processes on halves of the list never wait. A thread sleeps only while the window of files is full.
class CParallelBatch
{
public:
    CParallelBatch(const SBatchContext& context, IMessageSink& messages, IProgressSink* pProgress,
                   IBatchObserver* pObserver)
        : m_context(context), m_paths(context.request.paths), m_messages(messages), m_pObserver(pObserver),
          m_frontEnd(messages, pProgress, pObserver), m_records(m_paths.size()),
          m_finished(std::make_unique<std::atomic<bool>[]>(m_paths.size()))
    {}

    SBatchResult Run(unsigned nThreads)
    {
        m_nWindow = FilesInFlight(nThreads);
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
            Stop(m_bBroken);
        }
    }

    // The next file, or nullptr once there is none or the batch has stopped. Waits while the window of
    // files in flight is full.
    CFileRecord* Take()
    {
        std::size_t i = m_nNext.load();
        for (;;) {
            if (Stopped() || i == m_paths.size())
                return nullptr;
            if (i >= m_nReported.load() + m_nWindow) {
                WaitForWindow();
                i = m_nNext.load();
                continue;
            }
            if (m_frontEnd.CancelRequested()) {
                Stop(m_bStartStopped);
                return nullptr;
            }
            if (m_nNext.compare_exchange_weak(i, i + 1))
                break;
        }
        // Slot i is this thread's until the file is marked finished.
        m_records[i] = std::make_unique<CFileRecord>(i, m_frontEnd);
        return m_records[i].get();
    }

    bool Stopped() const { return m_bCancelled || m_bStartStopped || m_bBroken; }

    void WaitForWindow()
    {
        std::unique_lock lock(m_mutex);
        ++m_nWaiting;
        m_windowMoved.wait(lock, [this] {
            const std::size_t nNext = m_nNext.load();
            return Stopped() || nNext == m_paths.size() || nNext < m_nReported.load() + m_nWindow;
        });
        --m_nWaiting;
    }

    // Wakes the threads waiting for the window. The lock, taken and dropped, makes sure that a thread that
    // has counted itself as waiting is asleep by the time it is woken, or sees the change before it sleeps.
    void WakeWaiting()
    {
        {
            const std::lock_guard lock(m_mutex);
        }
        m_windowMoved.notify_all();
    }

    void Stop(std::atomic<bool>& bReason)
    {
        bReason = true;
        WakeWaiting();
    }

    // File i is decrypted. Reports it, and the finished files after it, when it is the batch's next and no
    // other thread is reporting; else leaves that to the thread that is. Every operation on m_finished,
    // m_bReporting and m_nReported is sequentially consistent: a thread that marks its file finished and then
    // finds another reporting, and the reporter that then stops reporting and looks at the next file again,
    // cannot both miss it.
    void Finish(std::size_t i)
    {
        m_finished[i] = true;
        for (;;) {
            if (m_bReporting.exchange(true))
                return;
            ReportDue();
            m_bReporting = false;
            const std::size_t nNext = m_nReported.load();
            if (m_bCancelled || nNext == m_paths.size() || !m_finished[nNext])
                return;
        }
    }

    // By the one thread that reports: the finished files from the batch's next on, in order.
    void ReportDue()
    {
        while (!m_bCancelled) {
            const std::size_t i = m_nReported.load();
            if (i == m_paths.size() || !m_finished[i])
                return;
            std::unique_ptr<CFileRecord> record = std::move(m_records[i]);
            const bool bGoOn = Report(*record);
            record.reset();
            if (!bGoOn) {
                Stop(m_bCancelled);
                return;
            }
            m_nReported = i + 1;
            if (m_nWaiting > 0)
                WakeWaiting();
        }
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
    // its output. Slot i is written by the thread that takes file i, then, once m_finished[i] is set, by the
    // thread that reports it.
    std::vector<std::unique_ptr<CFileRecord>> m_records;
    std::unique_ptr<std::atomic<bool>[]> m_finished; // file i is decrypted and waits to be reported
    SBatchResult m_result;                           // the reporting thread's
    std::size_t m_nWindow = 1;
    std::atomic<std::size_t> m_nNext{0};     // files handed out
    std::atomic<std::size_t> m_nReported{0}; // written by the reporting thread only
    std::atomic<bool> m_bReporting{false};   // a thread is reporting
    std::atomic<bool> m_bStartStopped{false};
    std::atomic<bool> m_bCancelled{false};
    std::atomic<bool> m_bBroken{false};
    // For threads waiting while the window is full.
    std::mutex m_mutex;
    std::condition_variable m_windowMoved;
    std::atomic<int> m_nWaiting{0};
};

} // namespace

SBatchResult RunInParallel(const SBatchContext& context, unsigned nThreads, IMessageSink& messages,
                           IProgressSink* pProgress, IBatchObserver* pObserver)
{
    CParallelBatch batch(context, messages, pProgress, pObserver);
    return batch.Run(nThreads);
}

} // namespace brasko

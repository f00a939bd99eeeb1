#include "DecryptionBatch.h"

#include "AtomicOutputFile.h"
#include "BatchPlan.h"
#include "DecryptStream.h"
#include "Messages.h"
#include "OrderedPipeline.h"

#include <tbb/parallel_pipeline.h>
#include <tbb/task_arena.h>

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <memory>
#include <mutex>
#include <new>
#include <sys/stat.h>
#include <system_error>
#include <vector>

namespace brasko {

namespace {

// Files in flight per thread when several files are decrypted at once: enough that a thread finds a file
// to start while earlier ones wait to be reported. Memory stays bounded: a finished file keeps only its
// messages until it is reported.
constexpr std::size_t kFilesInFlightPerThread = 4;

SDecryptOutcome MakeOutcome(EDecryptError error, int nSystemError, const std::string& strOutputPath)
{
    return SDecryptOutcome{error, nSystemError, strOutputPath};
}

// What the batch needs for every entry, shared read-only by the threads that decrypt.
struct SBatchContext
{
    const SBatchRequest& request;
    const SBatchPlan& plan;
    const CFileDecryptor decryptor;
};

// Decrypts entry i unless the plan refuses it or its output exists and may be skipped. Messages go to
// messages, the opening of the input to onInputOpened. pPendingOutput as for DecryptFileTo.
SDecryptOutcome DecryptEntry(const SBatchContext& context, std::size_t i, IMessageSink& messages,
                             IProgressSink* pProgress, const InputOpenedFn& onInputOpened,
                             std::unique_ptr<CAtomicOutputFile>* pPendingOutput = nullptr)
{
    const std::string& strPath = context.request.paths[i];
    const std::string& strOutput = context.plan.outputs[i];
    try {
        switch (context.plan.verdicts[i]) {
        case EPlanVerdict::ReplacesInput:
            messages.ShowMessage(messages::OutputWouldReplaceInput(strPath, strOutput), EMessageIcon::Stop);
            return MakeOutcome(EDecryptError::ReplacesInput, 0, strOutput);
        case EPlanVerdict::DuplicateOutput:
            messages.ShowMessage(messages::OutputWouldBeWrittenTwice(strPath, strOutput), EMessageIcon::Stop);
            return MakeOutcome(EDecryptError::DuplicateOutput, 0, strOutput);
        case EPlanVerdict::Decrypt:
            break;
        }
        if (context.request.bSkipExisting && !strOutput.empty()) {
            // Outputs are only ever complete, so one that exists is one that was finished.
            struct stat info
            {
            };
            if (::lstat(strOutput.c_str(), &info) == 0) {
                SDecryptOutcome outcome = MakeOutcome(EDecryptError::None, 0, strOutput);
                outcome.bSkipped = true;
                return outcome;
            }
        }
        if (!context.request.strOutputDir.empty() && !strOutput.empty()) {
            // Folders below the output folder are made as needed, with the permissions the umask leaves.
            std::error_code error;
            std::filesystem::create_directories(std::filesystem::path(strOutput).parent_path(), error);
            if (error)
                return MakeOutcome(EDecryptError::CreateOutput, error.value(), strOutput);
        }
        return context.decryptor.DecryptFileTo(strPath, strOutput, context.request.strPassword, messages,
                                               pProgress, context.request.nJobs, onInputOpened,
                                               pPendingOutput);
    } catch (const std::bad_alloc&) {
        return MakeOutcome(EDecryptError::OutOfMemory, ENOMEM, strOutput);
    }
}

SBatchResult Summary(IMessageSink& messages, SBatchResult result)
{
    if (result.nFailures == 0)
        messages.ShowMessage(messages::kBatchSucceeded, EMessageIcon::Default);
    else
        messages.ShowMessage(messages::kBatchFailed, EMessageIcon::Stop);
    return result;
}

SBatchResult Cancelled(IMessageSink& messages, SBatchResult result)
{
    messages.ShowMessage(messages::kBatchCancelled, EMessageIcon::Default);
    result.bCancelled = true;
    return result;
}

void Count(SBatchResult& result, const SDecryptOutcome& outcome)
{
    if (!outcome.Succeeded())
        ++result.nFailures;
    else if (outcome.bSkipped)
        ++result.nSkipped;
}

// One file after another on the calling thread.
SBatchResult RunOnCallingThread(const SBatchContext& context, IMessageSink& messages,
                                IProgressSink* pProgress, IBatchObserver* pObserver)
{
    const std::vector<std::string>& paths = context.request.paths;
    SBatchResult result;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        if (pProgress != nullptr) {
            pProgress->OnFileStarted(i, paths.size(), paths[i]);
            if (pProgress->IsCancelRequested())
                return Cancelled(messages, result);
        }
        const SDecryptOutcome outcome = DecryptEntry(context, i, messages, pProgress, [&] {
            if (pObserver != nullptr)
                pObserver->OnInputOpened(i, paths[i]);
        });
        if (outcome.error == EDecryptError::Cancelled)
            return Cancelled(messages, result);
        Count(result, outcome);
        if (pObserver != nullptr)
            pObserver->OnFileFinished(i, paths[i], outcome);
    }
    return Summary(messages, result);
}

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
            m_outcome = MakeOutcome(EDecryptError::Cancelled, ECANCELED, {});
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
            m_outcome = MakeOutcome(EDecryptError::Write, nError, m_outcome.strOutputPath);
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
SBatchResult RunInParallel(const SBatchContext& context, unsigned nThreads, IMessageSink& messages,
                           IProgressSink* pProgress, IBatchObserver* pObserver)
{
    const std::vector<std::string>& paths = context.request.paths;
    CSharedFrontEnd frontEnd(messages, pProgress, pObserver);
    SBatchResult result;
    // Owned here rather than by the pipeline, so that nothing is left behind should it end in an exception.
    std::vector<std::unique_ptr<CFileRecord>> records(paths.size());
    std::size_t nNext = 0;
    std::size_t nReported = 0;
    bool bStartStopped = false;
    bool bCancelled = false;

    const auto startStage = [&](tbb::flow_control& control) -> CFileRecord* {
        if (nNext == paths.size() || frontEnd.CancelRequested()) {
            bStartStopped = nNext < paths.size();
            control.stop();
            return nullptr;
        }
        records[nNext] = std::make_unique<CFileRecord>(nNext, frontEnd);
        return records[nNext++].get();
    };
    const auto decryptStage = [&](CFileRecord* pRecord) {
        pRecord->Decrypt(context);
        return pRecord;
    };
    const auto reportStage = [&](CFileRecord* pRecord) {
        const std::size_t i = pRecord->Index();
        const std::unique_ptr<CFileRecord> record = std::move(records[i]);
        // As on one thread, a cancel asked for by the time a file's turn comes stops before that file.
        if (bCancelled || frontEnd.CancelRequestedNow()) {
            bCancelled = true;
            return;
        }
        if (record->Outcome().error != EDecryptError::Cancelled)
            record->Commit();
        const std::lock_guard lock(frontEnd.Mutex());
        record->Report(paths[i]);
        if (record->Outcome().error == EDecryptError::Cancelled) {
            bCancelled = true;
            return;
        }
        Count(result, record->Outcome());
        if (pObserver != nullptr)
            pObserver->OnFileFinished(i, paths[i], record->Outcome());
        nReported = i + 1;
        if (nReported < paths.size())
            frontEnd.StartReporting(nReported, paths.size(), paths[nReported]);
    };

    {
        const std::lock_guard lock(frontEnd.Mutex());
        frontEnd.StartReporting(0, paths.size(), paths[0]);
    }
    try {
        tbb::task_arena arena(static_cast<int>(nThreads));
        arena.execute([&] {
            RunOrderedPipeline<CFileRecord>(kFilesInFlightPerThread * nThreads, &nNext, startStage,
                                            decryptStage, &nReported, reportStage);
        });
    } catch (const std::exception&) {
        // The threads or the records could not be had: what was not reported counts as failed.
        const std::lock_guard lock(frontEnd.Mutex());
        for (std::size_t i = nReported; i < paths.size() && !bCancelled; ++i) {
            const SDecryptOutcome outcome =
                MakeOutcome(EDecryptError::OutOfMemory, ENOMEM, context.plan.outputs[i]);
            Count(result, outcome);
            if (pObserver != nullptr)
                pObserver->OnFileFinished(i, paths[i], outcome);
        }
        return Summary(messages, result);
    }
    if (bCancelled || bStartStopped)
        return Cancelled(messages, result);
    return Summary(messages, result);
}

} // namespace

SBatchResult RunDecryptionBatch(const SBatchRequest& request, IMessageSink& messages,
                                IProgressSink* pProgress, IBatchObserver* pObserver)
{
    SBatchResult result;
    if (request.strPrefix.empty() && request.strSuffix.empty() && request.strExtension.empty()) {
        messages.ShowMessage(messages::kTemplateEmpty, EMessageIcon::Stop);
        result.bTemplateEmpty = true;
        return result;
    }
    if (request.paths.empty())
        return Summary(messages, result);

    try {
        const SBatchPlan plan = PlanBatch(request);
        CFileDecryptor decryptor(request.strPrefix, request.strSuffix, request.strExtension);
        decryptor.m_bCheckPlaintext = request.bCheckPlaintext;
        const SBatchContext context{request, plan, std::move(decryptor)};
        const unsigned nThreads = EffectiveJobs(request.nJobs);
        if (nThreads > 1 && request.paths.size() > 1)
            return RunInParallel(context, nThreads, messages, pProgress, pObserver);
        return RunOnCallingThread(context, messages, pProgress, pObserver);
    } catch (const std::bad_alloc&) {
        // Not even the plan fits in memory: no file has been touched.
        result.nFailures = static_cast<int>(request.paths.size());
        return Summary(messages, result);
    }
}

} // namespace brasko

#include "BatchRunner.h"

#include "ContentCheck.h"
#include "DecryptionBatch.h"
#include "FailureText.h"
#include "Messages.h"
#include "TextConversion.h"

#include <chrono>
#include <iostream>

namespace brasko {

class CBatchRunner::CRelaySink : public IMessageSink
{
public:
    explicit CRelaySink(CBatchRunner& runner) : m_runner(runner) {}
    void ShowMessage(const std::string& strText, EMessageIcon icon) override
    {
        m_runner.RelayMessage(strText, icon);
    }

private:
    CBatchRunner& m_runner;
};

class CBatchRunner::CRelayProgress : public IProgressSink
{
public:
    explicit CRelayProgress(CBatchRunner& runner) : m_runner(runner) {}

    void OnFileStarted(std::size_t nIndex, std::size_t nCount, const std::string& strPath) override
    {
        m_nPermille = -1;
        m_runner.m_bMessageForFile = false;
        emit m_runner.FileStarted(static_cast<int>(nIndex), static_cast<int>(nCount),
                                  text::PathFromCore(strPath));
    }

    // Thousandths are all a progress bar can show; finer reports would only flood the UI thread's queue.
    void OnBytesDone(std::uint64_t nDone, std::uint64_t nTotal) override
    {
        const int nPermille =
            nTotal == 0 ? 1000 : static_cast<int>(std::min<std::uint64_t>(nDone, nTotal) * 1000 / nTotal);
        if (nPermille == m_nPermille)
            return;
        m_nPermille = nPermille;
        emit m_runner.FileProgress(nPermille);
    }

    bool IsCancelRequested() override { return m_runner.m_bCancel; }

private:
    CBatchRunner& m_runner;
    int m_nPermille = -1;
};

// The dialog's trace, one line on standard output per input opened as the program always wrote it, and
// the reason a file failed, in a message box of its own with the command line's sentence for it.
class CBatchRunner::CFileObserver : public IBatchObserver
{
public:
    explicit CFileObserver(CBatchRunner& runner) : m_runner(runner) {}

    void OnInputOpened(std::size_t /*nIndex*/, const std::string& /*strPath*/) override
    {
        std::cout << messages::kTraceLine << std::endl;
    }

    void OnFileFinished(std::size_t /*nIndex*/, const std::string& strPath,
                        const SDecryptOutcome& outcome) override
    {
        if (const std::string strReason = FailureReason(strPath, outcome, m_runner.m_bMessageForFile);
            !strReason.empty())
            m_runner.RelayMessage(strReason, EMessageIcon::Stop);
    }

private:
    CBatchRunner& m_runner;
};

namespace {

// Swallows the trial's messages: the batch reports inputs that cannot be opened itself.
class CSilentSink : public IMessageSink
{
public:
    void ShowMessage(const std::string& /*strText*/, EMessageIcon /*icon*/) override {}
};

// How often a read is woken again after a cancel request: a wake that lands just before the read starts is
// lost.
constexpr int kWakeIntervalMs = 100;

} // namespace

CBatchRunner::CBatchRunner(IMessageSink& messages, QObject* pParent)
    : QObject(pParent), m_messages(messages),
      m_trial([](const std::string& strPath, std::string_view password, IMessageSink& sink,
                 const StopAskedFn& stopAsked) {
          return CheckFileContent(strPath, password, sink, stopAsked, EPlausibilityDetail::Verdict);
      })
{
    m_timerWake.setInterval(kWakeIntervalMs);
    connect(&m_timerWake, &QTimer::timeout, this, [] { WakeBlockedReads(); });
}

CBatchRunner::~CBatchRunner()
{
    if (!m_thread.joinable())
        return;
    {
        const std::lock_guard lock(m_mutex);
        m_bAbandoned = true;
    }
    m_cvMessageDone.notify_all();
    // A trial's answer is of no use any more: it is stopped, a read that waits for its file included.
    if (m_bTrial) {
        m_bCancel = true;
        while (!m_bWorkerDone) {
            WakeBlockedReads();
            std::this_thread::sleep_for(std::chrono::milliseconds(kWakeIntervalMs));
        }
    }
    m_thread.join();
}

bool CBatchRunner::Start(SBatchRequest request)
{
    if (IsRunning())
        return false;
    m_bCancel = false;
    m_bTrial = false;
    m_bWorkerDone = false;
    m_thread = std::thread([this, request = std::move(request)]() mutable {
        CRelaySink sink(*this);
        CRelayProgress progress(*this);
        CFileObserver observer(*this);
        RunDecryptionBatch(request, sink, &progress, &observer);
        m_bWorkerDone = true;
        QMetaObject::invokeMethod(
            this, [this] { OnWorkerDone(); }, Qt::QueuedConnection);
    });
    return true;
}

bool CBatchRunner::StartTrial(std::vector<std::string> paths, std::string_view password)
{
    if (IsRunning())
        return false;
    m_bCancel = false;
    m_bTrial = true;
    m_bWorkerDone = false;
    m_thread = std::thread([this, paths = std::move(paths), password] {
        const int nResult = RunTrial(paths, password);
        m_bWorkerDone = true;
        QMetaObject::invokeMethod(
            this, [this, nResult] { OnTrialDone(nResult); }, Qt::QueuedConnection);
    });
    return true;
}

int CBatchRunner::RunTrial(const std::vector<std::string>& paths, std::string_view password)
{
    CSilentSink silent;
    const StopAskedFn stopAsked = [this] { return m_bCancel.load(); };
    for (std::size_t i = 0; i < paths.size(); ++i) {
        if (m_bCancel)
            return kTrialCancelled;
        emit FileStarted(static_cast<int>(i), static_cast<int>(paths.size()), text::PathFromCore(paths[i]));
        const SDecryptOutcome outcome = m_trial(paths[i], password, silent, stopAsked);
        if (outcome.error == EDecryptError::Cancelled || m_bCancel)
            return kTrialCancelled;
        if (IsOpenFailure(outcome.error))
            continue;
        return outcome.plausibility.verdict == EPlausibility::LooksRandom ? static_cast<int>(i)
                                                                          : kTrialPassed;
    }
    return kTrialPassed;
}

void CBatchRunner::RequestCancel()
{
    m_bCancel = true;
    WakeBlockedReads();
    if (IsRunning())
        m_timerWake.start();
}

void CBatchRunner::RelayMessage(const std::string& strText, EMessageIcon icon)
{
    m_bMessageForFile = true;
    std::unique_lock lock(m_mutex);
    if (m_bAbandoned)
        return;
    m_bMessageDone = false;
    QMetaObject::invokeMethod(
        this, [this, strText, icon] { ShowOnUiThread(strText, icon); }, Qt::QueuedConnection);
    m_cvMessageDone.wait(lock, [this] { return m_bMessageDone || m_bAbandoned; });
}

void CBatchRunner::ShowOnUiThread(const std::string& strText, EMessageIcon icon)
{
    emit MessageAboutToShow();
    m_messages.ShowMessage(strText, icon);
    emit MessageDismissed();
    {
        const std::lock_guard lock(m_mutex);
        m_bMessageDone = true;
    }
    m_cvMessageDone.notify_all();
}

void CBatchRunner::OnWorkerDone()
{
    m_timerWake.stop();
    m_thread.join();
    emit Finished();
}

void CBatchRunner::OnTrialDone(int nResult)
{
    m_timerWake.stop();
    m_thread.join();
    emit TrialFinished(nResult);
}

} // namespace brasko

#pragma once

#include "BatchRequest.h"
#include "DecryptOutcome.h"
#include "FileHandle.h"
#include "MessageSink.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace brasko {

// Runs the decryption batch on a worker thread so that the window stays responsive. Every message of the
// batch, and after a failed file the reason for it (with the stop sign), is shown through the given sink on
// the UI thread, one at a time, and the worker waits until it has been dismissed: a file's messages are gone
// before the next file starts. Progress arrives as queued
// signals. Lives on the UI thread.
class CBatchRunner : public QObject
{
    Q_OBJECT

public:
    // Tries the password on one input, in memory (CheckFileContent): its messages go to the given sink, and a
    // read that waits for its file ends with Cancelled once stopAsked says so.
    using PasswordTrialFn =
        std::function<SDecryptOutcome(const std::string& strPath, std::string_view password,
                                      IMessageSink& messages, const StopAskedFn& stopAsked)>;
    // TrialFinished's answers besides the index of an input.
    static constexpr int kTrialPassed = -1;
    static constexpr int kTrialCancelled = -2;

    explicit CBatchRunner(IMessageSink& messages, QObject* pParent = nullptr);
    // Waits for a running batch to end; messages it still has are dropped. A running trial is stopped.
    ~CBatchRunner() override;
    Q_DISABLE_COPY_MOVE(CBatchRunner)

    // Starts a batch and returns at once; false when one is running already. The batch writes its trace
    // lines to standard output.
    bool Start(SBatchRequest request);
    // Starts the trial of the password on the first of the paths that can be opened and returns at once;
    // false when a batch or trial is running already. The password's bytes stay where they are: they must
    // outlive the trial. Ends with TrialFinished.
    bool StartTrial(std::vector<std::string> paths, std::string_view password);
    bool IsRunning() const { return m_thread.joinable(); }
    // Asks the running batch or trial to stop: the file being read is abandoned, no further file starts. A
    // read that waits for its file is interrupted, again and again until the worker is done.
    void RequestCancel();
    bool IsCancelRequested() const { return m_bCancel; }
    // Replaces the trial of the password (CheckFileContent) for tests.
    void SetPasswordTrial(PasswordTrialFn trial) { m_trial = std::move(trial); }

signals:
    // nIndex counts from 0.
    void FileStarted(int nIndex, int nCount, const QString& strPath);
    // Share of the current file done, in thousandths; sent only when it changes.
    void FileProgress(int nPermille);
    void MessageAboutToShow();
    void MessageDismissed();
    // The batch is over, its summary dismissed.
    void Finished();
    // The trial is over: the index of the input whose start decrypts to random-looking bytes, kTrialPassed
    // when it does not or no input could be opened, or kTrialCancelled.
    void TrialFinished(int nResult);

private:
    class CRelaySink;
    class CRelayProgress;
    class CFileObserver;

    // Worker thread: hands the message to the UI thread and waits until the user has dismissed it.
    void RelayMessage(const std::string& strText, EMessageIcon icon);
    void ShowOnUiThread(const std::string& strText, EMessageIcon icon);
    void OnWorkerDone();
    void OnTrialDone(int nResult);
    // Worker thread.
    int RunTrial(const std::vector<std::string>& paths, std::string_view password);

    IMessageSink& m_messages;
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_cvMessageDone;
    bool m_bMessageDone = false;
    bool m_bAbandoned = false;
    std::atomic<bool> m_bCancel{false};
    // Worker thread: the batch has shown a message for the current file, so its failure needs no reason.
    std::atomic<bool> m_bMessageForFile{false};
    PasswordTrialFn m_trial;
    bool m_bTrial = false; // the worker runs a trial, not a batch
    std::atomic<bool> m_bWorkerDone{false};
    // Wakes a read that a cancel request found still waiting, until the worker is done.
    QTimer m_timerWake;
};

} // namespace brasko

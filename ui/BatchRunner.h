#pragma once

#include "BatchRequest.h"
#include "MessageSink.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
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
    explicit CBatchRunner(IMessageSink& messages, QObject* pParent = nullptr);
    // Waits for a running batch to end; messages it still has are dropped.
    ~CBatchRunner() override;
    Q_DISABLE_COPY_MOVE(CBatchRunner)

    // Starts a batch and returns at once; false when one is running already. The batch writes its trace
    // lines to standard output.
    bool Start(SBatchRequest request);
    bool IsRunning() const { return m_thread.joinable(); }
    // Asks the running batch to stop: the file being decrypted is abandoned, no further file starts.
    void RequestCancel() { m_bCancel = true; }

signals:
    // nIndex counts from 0.
    void FileStarted(int nIndex, int nCount, const QString& strPath);
    // Share of the current file done, in thousandths; sent only when it changes.
    void FileProgress(int nPermille);
    void MessageAboutToShow();
    void MessageDismissed();
    // The batch is over, its summary dismissed.
    void Finished();

private:
    class CRelaySink;
    class CRelayProgress;
    class CFileObserver;

    // Worker thread: hands the message to the UI thread and waits until the user has dismissed it.
    void RelayMessage(const std::string& strText, EMessageIcon icon);
    void ShowOnUiThread(const std::string& strText, EMessageIcon icon);
    void OnWorkerDone();

    IMessageSink& m_messages;
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_cvMessageDone;
    bool m_bMessageDone = false;
    bool m_bAbandoned = false;
    std::atomic<bool> m_bCancel{false};
    // Worker thread: the batch has shown a message for the current file, so its failure needs no reason.
    std::atomic<bool> m_bMessageForFile{false};
};

} // namespace brasko

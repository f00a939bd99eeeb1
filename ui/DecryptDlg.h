#pragma once

#include "BatchProgressDlg.h"
#include "BatchRunner.h"
#include "FileChooser.h"
#include "MessageSink.h"
#include "SecureBuffer.h"

#include <QDialog>
#include <QIcon>
#include <QPointer>
#include <QTimer>

#include <memory>
#include <optional>

namespace Ui {
class DecryptDlg;
}

namespace brasko {

// The main window: password, input files, output-name template, and the buttons that browse for files,
// run the batch and close. No button is the default: Enter presses the focused button, and runs the batch
// from an edit field or the list. The batch runs on a worker thread; while it runs the dialog takes no
// input, and a progress display comes up once it has run for half a second.
class CDecryptDlg : public QDialog
{
    Q_OBJECT

public:
    CDecryptDlg(IFileChooser& fileChooser, IMessageSink& messages, QWidget* pParent = nullptr);
    ~CDecryptDlg() override;
    Q_DISABLE_COPY_MOVE(CDecryptDlg)

    // A run is under way: the trial of the password, its question, or the batch.
    bool IsBatchRunning() const { return m_runner.IsRunning() || m_pendingRequest.has_value(); }

    // Adds paths to the input list, as dropped on the dialog or given to the program: a folder stands for
    // every regular file below it (as brasko-decrypt-cli -r walks it), a relative path is taken from the
    // current folder, and a path the list holds already is not added again.
    void AddPaths(const QStringList& paths);
    // The progress display of the running batch, whether shown yet or not; null when no batch runs.
    CBatchProgressDlg* ProgressDisplay() const { return m_pProgress; }

    // How long a batch runs before its progress is shown; time spent reading messages does not count.
    static constexpr int kProgressDelayMs = 500;
    void SetProgressDelay(int nMs) { m_timerProgress.setInterval(nMs); }
    // Replaces the trial of the password on an input (CheckFileContent) for tests.
    void SetPasswordTrial(CBatchRunner::PasswordTrialFn trial)
    {
        m_runner.SetPasswordTrial(std::move(trial));
    }

public slots:
    void OnBrowse();
    void OnOK();
    void OnHelpButton();
    void reject() override;

signals:
    // F1 or the help button: the application shows its help.
    void HelpRequested();
    // A run has ended: its batch, the summary dismissed, or the trial of the password, cancelled or with
    // the question answered Nein.
    void BatchFinished();

protected:
    void keyPressEvent(QKeyEvent* pEvent) override;
    void showEvent(QShowEvent* pEvent) override;
    bool eventFilter(QObject* pWatched, QEvent* pEvent) override;
    void dragEnterEvent(QDragEnterEvent* pEvent) override;
    void dragMoveEvent(QDragMoveEvent* pEvent) override;
    void dropEvent(QDropEvent* pEvent) override;

private:
    void OnInitDialog();
    // Copies the controls into the members (bSaveAndValidate) or the members into the controls.
    void UpdateData(bool bSaveAndValidate);
    void WidenPasswordField();
    void UpdateTemplateToolTips();
    void OnFileStarted(int nIndex, int nCount, const QString& strPath);
    void OnBatchFinished();
    // The trial of the password is over: asks when it gave random-looking content, then runs the batch.
    void OnTrialFinished(int nResult);
    // A run that ends without its batch: back to the password.
    void EndRunAtPassword();
    // Copies the password field's text into m_password as UTF-8, without a copy anywhere else.
    void TakePassword();
    // Files dropped anywhere on the dialog: true when the event was one and has been handled.
    bool HandleDrop(QEvent* pEvent);
    void RemoveSelectedFiles();

    std::unique_ptr<Ui::DecryptDlg> m_pUi;
    // The password during a run, locked in memory where allowed; released (wiped) when the run ends. The
    // field itself keeps the other copy (docs/design.md).
    CSecureBuffer m_password;
    // The batch that waits for the trial of the password and its question.
    std::optional<SBatchRequest> m_pendingRequest;
    QString m_strExtension;
    QString m_strPrefix;
    QString m_strSuffix;
    QIcon m_hIcon;

    IFileChooser& m_fileChooser;
    IMessageSink& m_messages;
    CBatchRunner m_runner;
    QPointer<CBatchProgressDlg> m_pProgress;
    QTimer m_timerProgress;
};

} // namespace brasko

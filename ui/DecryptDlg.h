#pragma once

#include "BatchProgressDlg.h"
#include "BatchRunner.h"
#include "FileChooser.h"
#include "MessageSink.h"

#include <QDialog>
#include <QIcon>
#include <QPointer>
#include <QTimer>

#include <memory>

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

    bool IsBatchRunning() const { return m_runner.IsRunning(); }

    // Adds paths to the input list, as dropped on the dialog or given to the program: a folder stands for
    // every regular file below it (as brasko-decrypt-cli -r walks it), a relative path is taken from the
    // current folder, and a path the list holds already is not added again.
    void AddPaths(const QStringList& paths);
    // The progress display of the running batch, whether shown yet or not; null when no batch runs.
    CBatchProgressDlg* ProgressDisplay() const { return m_pProgress; }

    // How long a batch runs before its progress is shown; time spent reading messages does not count.
    static constexpr int kProgressDelayMs = 500;
    void SetProgressDelay(int nMs) { m_timerProgress.setInterval(nMs); }

public slots:
    void OnBrowse();
    void OnOK();
    void OnHelpButton();
    void reject() override;

signals:
    // F1 or the help button: the application shows its help.
    void HelpRequested();
    // A batch has ended and its summary has been dismissed.
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
    // False when the password gives random-looking content and the user chose not to go on.
    bool ConfirmPassword(const SBatchRequest& request);
    // Files dropped anywhere on the dialog: true when the event was one and has been handled.
    bool HandleDrop(QEvent* pEvent);
    void RemoveSelectedFiles();

    std::unique_ptr<Ui::DecryptDlg> m_pUi;
    QString m_strPassword;
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

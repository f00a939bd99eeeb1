#pragma once

#include <QDialog>

class QLabel;
class QProgressBar;
class QPushButton;

namespace brasko {

// The progress of a running batch: which file of how many, and how far the whole batch has come, the
// current file's bytes included. "Abbrechen" (or Escape) asks the batch to stop; the window itself goes
// when the batch is over.
class CBatchProgressDlg : public QDialog
{
    Q_OBJECT

public:
    explicit CBatchProgressDlg(QWidget* pParent);

    void SetFile(int nIndex, int nCount, const QString& strPath);
    void SetFileProgress(int nPermille);

    QString LabelText() const;
    int Value() const;
    int Maximum() const;

signals:
    void CancelRequested();

public slots:
    void reject() override;

private:
    QLabel* m_pLabel;
    QProgressBar* m_pBar;
    QPushButton* m_pCancel;
    int m_nIndex = 0;
};

} // namespace brasko

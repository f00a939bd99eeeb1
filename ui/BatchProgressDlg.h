#pragma once

#include <QDialog>

class QLabel;
class QProgressBar;

namespace brasko {

// The progress of a running batch: which file of how many, and how far the whole batch has come, the
// current file's bytes included. It cannot be closed by the user: the batch has no way to stop midway.
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

public slots:
    void reject() override;

private:
    QLabel* m_pLabel;
    QProgressBar* m_pBar;
    int m_nIndex = 0;
};

} // namespace brasko

#include "BatchProgressDlg.h"

#include "Messages.h"
#include "TextConversion.h"

#include <QFileInfo>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace brasko {

namespace {

constexpr int kSteps = 1000;    // steps of the bar per file
constexpr int kNameWidth = 320; // pixels for the file name before it is shortened in the middle

} // namespace

CBatchProgressDlg::CBatchProgressDlg(QWidget* pParent)
    : QDialog(pParent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      m_pLabel(new QLabel(this)), m_pBar(new QProgressBar(this)),
      m_pCancel(new QPushButton(QStringLiteral("Abbrechen"), this))
{
    setWindowTitle(text::FromCore(messages::kApplicationName));
    setWindowModality(Qt::ApplicationModal);
    auto* pLayout = new QVBoxLayout(this);
    pLayout->setSizeConstraint(QLayout::SetFixedSize);
    pLayout->addWidget(m_pLabel);
    pLayout->addWidget(m_pBar);
    pLayout->addWidget(m_pCancel, 0, Qt::AlignRight);
    m_pCancel->setObjectName(QStringLiteral("m_btnCancelBatch"));
    m_pCancel->setAutoDefault(false);
    connect(m_pCancel, &QPushButton::clicked, this, &CBatchProgressDlg::reject);
    m_pLabel->setMinimumWidth(kNameWidth);
    m_pLabel->setTextFormat(Qt::PlainText); // the file's name as it is spelled, never as markup
    m_pBar->setTextVisible(false);
    m_pBar->setAccessibleName(QStringLiteral("Fortschritt"));
}

void CBatchProgressDlg::SetFile(int nIndex, int nCount, const QString& strPath)
{
    m_nIndex = nIndex;
    const QString strName =
        m_pLabel->fontMetrics().elidedText(QFileInfo(strPath).fileName(), Qt::ElideMiddle, kNameWidth);
    m_pLabel->setText(QStringLiteral("Datei %1 von %2\n%3").arg(nIndex + 1).arg(nCount).arg(strName));
    m_pBar->setRange(0, nCount * kSteps);
    m_pBar->setValue(nIndex * kSteps);
}

void CBatchProgressDlg::SetFileProgress(int nPermille)
{
    m_pBar->setValue(m_nIndex * kSteps + nPermille * kSteps / 1000);
}

QString CBatchProgressDlg::LabelText() const
{
    return m_pLabel->text();
}

int CBatchProgressDlg::Value() const
{
    return m_pBar->value();
}

int CBatchProgressDlg::Maximum() const
{
    return m_pBar->maximum();
}

void CBatchProgressDlg::reject()
{
    // The window stays until the batch has stopped; the file being decrypted is abandoned between chunks.
    if (!m_pCancel->isEnabled())
        return;
    m_pCancel->setEnabled(false);
    emit CancelRequested();
}

} // namespace brasko

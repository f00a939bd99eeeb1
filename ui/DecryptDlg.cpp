#include "DecryptDlg.h"

#include "ApplicationIcon.h"
#include "BatchInputs.h"
#include "BatchProgressDlg.h"
#include "DialogLayout.h"
#include "Messages.h"
#include "OutputTemplate.h"
#include "TextConversion.h"
#include "Version.h"
#include "ui_DecryptDlg.h"

#include <QApplication>
#include <QCollator>
#include <QDropEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QSet>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QUrl>

namespace brasko {

namespace {

// An entry of the input list, its full path also in its tooltip (the list cuts long paths off). The list
// sorts alphabetically without regard to case; entries equal in that order keep a fixed order by their exact
// text.
class CFileListItem : public QListWidgetItem
{
public:
    explicit CFileListItem(const QString& strPath) : QListWidgetItem(strPath)
    {
        setToolTip(text::PlainToolTip(strPath));
    }

    bool operator<(const QListWidgetItem& other) const override
    {
        static const QCollator collator = [] {
            QCollator c;
            c.setCaseSensitivity(Qt::CaseInsensitive);
            return c;
        }();
        const int nOrder = collator.compare(text(), other.text());
        return nOrder != 0 ? nOrder < 0 : text() < other.text();
    }

    QListWidgetItem* clone() const override { return new CFileListItem(*this); }
};

bool IsUserInput(QEvent::Type type)
{
    switch (type) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
        return true;
    default:
        return false;
    }
}

// The local files a drag carries; empty when it carries none.
QStringList LocalFiles(const QMimeData* pData)
{
    QStringList paths;
    if (pData == nullptr || !pData->hasUrls())
        return paths;
    for (const QUrl& url : pData->urls()) {
        if (url.isLocalFile())
            paths.append(url.toLocalFile());
    }
    return paths;
}

constexpr const char* kTitle = "Brasko Decrypter. Version ";
// The input whose output name the template fields' tooltips show while the list is empty.
constexpr const char* kExampleInput = "bericht.xls";

} // namespace

CDecryptDlg::CDecryptDlg(IFileChooser& fileChooser, IMessageSink& messages, QWidget* pParent)
    : QDialog(pParent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowCloseButtonHint),
      m_pUi(std::make_unique<Ui::DecryptDlg>()), m_hIcon(ApplicationIcon()), m_fileChooser(fileChooser),
      m_messages(messages), m_runner(messages)
{
    m_pUi->setupUi(this);
    // The frames lie under the controls they surround, so that clicks reach those controls.
    for (QWidget* pFrame : {m_pUi->m_grpPassword, m_pUi->m_grpInputFiles, m_pUi->m_grpTemplate})
        pFrame->lower();
    UseClassicGroupBoxes(*this);
    ScaleToDialogFont(*this);
    WidenPasswordField();

    // Entries can be selected so that Delete removes them; files dropped anywhere on the dialog join the
    // list, also where a field would otherwise take the dropped names as text.
    m_pUi->m_listFiles->setSelectionMode(QAbstractItemView::ExtendedSelection);
    setAcceptDrops(true);
    for (QWidget* pChild : findChildren<QWidget*>())
        pChild->installEventFilter(this);

    connect(m_pUi->m_btnBrowse, &QPushButton::clicked, this, &CDecryptDlg::OnBrowse);
    connect(m_pUi->m_btnDecrypt, &QPushButton::clicked, this, &CDecryptDlg::OnOK);
    connect(m_pUi->m_btnCancel, &QPushButton::clicked, this, &CDecryptDlg::reject);
    connect(m_pUi->m_btnHelp, &QPushButton::clicked, this, &CDecryptDlg::OnHelpButton);

    // The template fields' tooltips follow the fields and the list's first entry.
    for (QLineEdit* pEdit : {m_pUi->m_editPrefix, m_pUi->m_editSuffix, m_pUi->m_editExtension})
        connect(pEdit, &QLineEdit::textChanged, this, &CDecryptDlg::UpdateTemplateToolTips);
    QAbstractItemModel* pListModel = m_pUi->m_listFiles->model();
    connect(pListModel, &QAbstractItemModel::rowsInserted, this, &CDecryptDlg::UpdateTemplateToolTips);
    connect(pListModel, &QAbstractItemModel::rowsRemoved, this, &CDecryptDlg::UpdateTemplateToolTips);
    connect(pListModel, &QAbstractItemModel::rowsMoved, this, &CDecryptDlg::UpdateTemplateToolTips);
    connect(pListModel, &QAbstractItemModel::layoutChanged, this, &CDecryptDlg::UpdateTemplateToolTips);
    connect(pListModel, &QAbstractItemModel::modelReset, this, &CDecryptDlg::UpdateTemplateToolTips);

    connect(&m_runner, &CBatchRunner::FileStarted, this, &CDecryptDlg::OnFileStarted);
    connect(&m_runner, &CBatchRunner::FileProgress, this, [this](int nPermille) {
        if (m_pProgress)
            m_pProgress->SetFileProgress(nPermille);
    });
    // Time spent reading a message does not count towards showing the progress: it would come up over the
    // message otherwise.
    connect(&m_runner, &CBatchRunner::MessageAboutToShow, &m_timerProgress, &QTimer::stop);
    connect(&m_runner, &CBatchRunner::MessageDismissed, this, [this] {
        if (m_pProgress && !m_pProgress->isVisible())
            m_timerProgress.start();
    });
    connect(&m_runner, &CBatchRunner::Finished, this, &CDecryptDlg::OnBatchFinished);
    connect(&m_runner, &CBatchRunner::TrialFinished, this, &CDecryptDlg::OnTrialFinished);

    m_timerProgress.setSingleShot(true);
    m_timerProgress.setInterval(kProgressDelayMs);
    connect(&m_timerProgress, &QTimer::timeout, this, [this] {
        if (m_pProgress)
            m_pProgress->show();
    });

    OnInitDialog();
}

CDecryptDlg::~CDecryptDlg()
{
    qApp->removeEventFilter(this);
    // The list empties itself as it is destroyed, after the controls' table is gone.
    m_pUi->m_listFiles->model()->disconnect(this);
}

void CDecryptDlg::OnInitDialog()
{
    setWindowIcon(m_hIcon);
    m_pUi->m_btnDecrypt->setEnabled(true);
    m_strPrefix = QString::fromLatin1(kDefaultPrefix);
    setWindowTitle(QString::fromLatin1(kTitle) + QString::fromLatin1(kVersionMajor) + u'.' +
                   QString::fromLatin1(kVersionMinor));
    UpdateData(false);
    UpdateTemplateToolTips();
    m_pUi->m_btnBrowse->setFocus();
}

// What the template does, shown on its fields: the output name it gives the first listed input.
void CDecryptDlg::UpdateTemplateToolTips()
{
    const SOutputTemplate outputTemplate{text::ToCore(m_pUi->m_editPrefix->text()),
                                         text::ToCore(m_pUi->m_editSuffix->text()),
                                         text::ToCore(m_pUi->m_editExtension->text())};
    std::string strInput = kExampleInput;
    if (const QListWidgetItem* pFirst = m_pUi->m_listFiles->item(0); pFirst != nullptr) {
        strInput = text::PathToCore(pFirst->text());
        strInput.erase(0, strInput.rfind('/') + 1);
    }
    const QString strToolTip =
        text::PlainToolTip(text::PathFromCore(outputTemplate.BuildOutputName(strInput)));
    for (QLineEdit* pEdit : {m_pUi->m_editPrefix, m_pUi->m_editSuffix, m_pUi->m_editExtension})
        pEdit->setToolTip(strToolTip);
}

void CDecryptDlg::UpdateData(bool bSaveAndValidate)
{
    if (bSaveAndValidate) {
        m_strExtension = m_pUi->m_editExtension->text();
        m_strPrefix = m_pUi->m_editPrefix->text();
        m_strSuffix = m_pUi->m_editSuffix->text();
    } else {
        m_pUi->m_editExtension->setText(m_strExtension);
        m_pUi->m_editPrefix->setText(m_strPrefix);
        m_pUi->m_editSuffix->setText(m_strSuffix);
    }
}

// The password field is to show every character it takes, the first one still in view after the last:
// it is widened where the style's mask character is broader than the form allows for.
void CDecryptDlg::WidenPasswordField()
{
    QLineEdit* pEdit = m_pUi->m_editPassword;
    const QChar cMask(pEdit->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, nullptr, pEdit));
    const int nText = pEdit->fontMetrics().horizontalAdvance(QString(pEdit->maxLength(), cMask));
    QStyleOptionFrame option;
    option.initFrom(pEdit);
    option.lineWidth = pEdit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, pEdit);
    // Two pixels of margin on either side of the text and one for the cursor, as the line edit draws them.
    const QMargins margins = pEdit->textMargins();
    const QSize contents(nText + 4 + 1 + margins.left() + margins.right(), pEdit->height());
    const int nWidth =
        pEdit->style()->sizeFromContents(QStyle::CT_LineEdit, &option, contents, pEdit).width();
    if (nWidth > pEdit->width())
        pEdit->resize(nWidth, pEdit->height());
}

void CDecryptDlg::OnBrowse()
{
    const std::optional<QStringList> paths = m_fileChooser.ChooseFiles(this);
    if (!paths)
        return;
    m_pUi->m_listFiles->clear();
    for (const QString& strPath : *paths)
        m_pUi->m_listFiles->addItem(new CFileListItem(strPath));
}

void CDecryptDlg::AddPaths(const QStringList& paths)
{
    SInputList inputs;
    for (const QString& strPath : paths) {
        if (!strPath.isEmpty())
            AddInput(AbsolutePath(text::PathToCore(strPath)), true, inputs);
    }
    QListWidget* pList = m_pUi->m_listFiles;
    QSet<QString> listed;
    for (int i = 0; i < pList->count(); ++i)
        listed.insert(pList->item(i)->text());
    for (const std::string& strPath : inputs.paths) {
        QString strEntry = text::PathFromCore(strPath);
        if (listed.contains(strEntry))
            continue;
        listed.insert(strEntry);
        pList->addItem(new CFileListItem(strEntry));
    }
}

void CDecryptDlg::RemoveSelectedFiles()
{
    qDeleteAll(m_pUi->m_listFiles->selectedItems());
}

bool CDecryptDlg::HandleDrop(QEvent* pEvent)
{
    switch (pEvent->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto* pDrag = static_cast<QDragMoveEvent*>(pEvent);
        if (IsBatchRunning() || LocalFiles(pDrag->mimeData()).isEmpty())
            return false;
        pDrag->acceptProposedAction();
        return true;
    }
    case QEvent::Drop: {
        auto* pDrop = static_cast<QDropEvent*>(pEvent);
        const QStringList paths = LocalFiles(pDrop->mimeData());
        if (IsBatchRunning() || paths.isEmpty())
            return false;
        pDrop->acceptProposedAction();
        AddPaths(paths);
        return true;
    }
    default:
        return false;
    }
}

void CDecryptDlg::dragEnterEvent(QDragEnterEvent* pEvent)
{
    if (!HandleDrop(pEvent))
        QDialog::dragEnterEvent(pEvent);
}

void CDecryptDlg::dragMoveEvent(QDragMoveEvent* pEvent)
{
    if (!HandleDrop(pEvent))
        QDialog::dragMoveEvent(pEvent);
}

void CDecryptDlg::dropEvent(QDropEvent* pEvent)
{
    if (!HandleDrop(pEvent))
        QDialog::dropEvent(pEvent);
}

void CDecryptDlg::TakePassword()
{
    // text() shares the field's own storage; the UTF-8 bytes are made straight in the locked buffer, so that
    // no converted copy is left in freed memory.
    const QString strText = m_pUi->m_editPassword->text();
    m_password = text::ToSecureUtf8(strText);
}

void CDecryptDlg::OnOK()
{
    if (IsBatchRunning())
        return;
    UpdateData(true);
    TakePassword();
    SBatchRequest request;
    request.pPassword = &m_password;
    request.strPrefix = text::ToCore(m_strPrefix);
    request.strSuffix = text::ToCore(m_strSuffix);
    request.strExtension = text::ToCore(m_strExtension);
    for (int i = 0; i < m_pUi->m_listFiles->count(); ++i)
        request.paths.push_back(text::PathToCore(m_pUi->m_listFiles->item(i)->text()));

    m_pProgress = new CBatchProgressDlg(this);
    connect(m_pProgress, &CBatchProgressDlg::CancelRequested, &m_runner, &CBatchRunner::RequestCancel);
    qApp->installEventFilter(this);
    m_timerProgress.start();
    // The password is tried on the first input that can be opened, in memory, off the UI thread: a read that
    // waits for its file leaves the dialog drawn, and "Abbrechen" ends it. Only a batch that gets as far as
    // decrypting is asked about: an empty template or an empty list gives the batch's own message first.
    if (request.HasTemplate() && !request.paths.empty()) {
        std::vector<std::string> paths = request.paths;
        m_pendingRequest = std::move(request);
        m_runner.StartTrial(std::move(paths), m_password.View());
        return;
    }
    m_runner.Start(std::move(request));
}

void CDecryptDlg::OnTrialFinished(int nResult)
{
    if (nResult == CBatchRunner::kTrialCancelled || m_runner.IsCancelRequested()) {
        m_timerProgress.stop();
        m_messages.ShowMessage(messages::kBatchCancelled, EMessageIcon::Default);
        EndRunAtPassword();
        return;
    }
    if (nResult >= 0) {
        m_timerProgress.stop();
        const QString strPath = m_pUi->m_listFiles->item(nResult)->text();
        if (!m_messages.AskYesNo(messages::PasswordLooksWrong(text::ToCore(strPath)))) {
            EndRunAtPassword();
            return;
        }
        if (m_pProgress && !m_pProgress->isVisible())
            m_timerProgress.start();
    }
    SBatchRequest request = std::move(*m_pendingRequest);
    m_pendingRequest.reset();
    m_runner.Start(std::move(request));
}

void CDecryptDlg::EndRunAtPassword()
{
    m_pendingRequest.reset();
    m_password = CSecureBuffer();
    OnBatchFinished();
    m_pUi->m_editPassword->setFocus();
}

void CDecryptDlg::OnHelpButton()
{
    emit HelpRequested();
}

void CDecryptDlg::OnFileStarted(int nIndex, int nCount, const QString& strPath)
{
    if (m_pProgress)
        m_pProgress->SetFile(nIndex, nCount, strPath);
}

void CDecryptDlg::OnBatchFinished()
{
    m_password = CSecureBuffer();
    qApp->removeEventFilter(this);
    m_timerProgress.stop();
    delete m_pProgress;
    emit BatchFinished();
}

void CDecryptDlg::reject()
{
    if (IsBatchRunning())
        return;
    QDialog::reject();
}

void CDecryptDlg::keyPressEvent(QKeyEvent* pEvent)
{
    if (pEvent->matches(QKeySequence::HelpContents)) {
        emit HelpRequested();
        return;
    }
    if (pEvent->key() == Qt::Key_Delete && pEvent->modifiers() == Qt::NoModifier &&
        focusWidget() == m_pUi->m_listFiles) {
        RemoveSelectedFiles();
        return;
    }
    const bool bEnter = pEvent->key() == Qt::Key_Return || pEvent->key() == Qt::Key_Enter;
    if (bEnter && (pEvent->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        if (auto* pButton = qobject_cast<QPushButton*>(focusWidget()))
            pButton->click();
        else
            OnOK();
        return;
    }
    QDialog::keyPressEvent(pEvent);
}

// Styles draw the focus frame only after a key has moved the focus, and showing a window forgets that a key
// did; the focus on "Durchsuchen..." is to be seen from the start.
void CDecryptDlg::showEvent(QShowEvent* pEvent)
{
    QDialog::showEvent(pEvent);
    setAttribute(Qt::WA_KeyboardFocusChange);
}

// While a batch runs the dialog takes no input: neither keys nor clicks reach it. Its message boxes and
// progress display are windows of their own and are not affected.
bool CDecryptDlg::eventFilter(QObject* pWatched, QEvent* pEvent)
{
    if (pWatched != this && HandleDrop(pEvent))
        return true;
    if (IsBatchRunning() && IsUserInput(pEvent->type())) {
        const auto* pWidget = qobject_cast<QWidget*>(pWatched);
        if (pWidget != nullptr && pWidget->window() == this)
            return true;
    }
    return QDialog::eventFilter(pWatched, pEvent);
}

} // namespace brasko

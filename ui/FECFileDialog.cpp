#include "FECFileDialog.h"

#include "QuotedNames.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>

namespace brasko {

namespace {

bool IsWildcard(const QString& strName)
{
    return strName.contains(u'*') || strName.contains(u'?');
}

} // namespace

CFECFileDialog::CFECFileDialog(QWidget* pParent, const QString& strDirectory)
    : QFileDialog(pParent, QString(), strDirectory)
{
    setOption(QFileDialog::DontUseNativeDialog);
    setOption(QFileDialog::DontResolveSymlinks);
    setAcceptMode(QFileDialog::AcceptOpen);
    setFileMode(QFileDialog::ExistingFiles);
    // Qt's dialog disables its open button while a typed name is not an existing file; typed names are
    // taken here all the same, so the button is kept enabled whenever the file-name field names something.
    m_pNameEdit = findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    if (auto* pButtons = findChild<QDialogButtonBox*>(QStringLiteral("buttonBox")))
        m_pOpenButton = pButtons->button(QDialogButtonBox::Open);
    if (m_pOpenButton != nullptr)
        m_pOpenButton->installEventFilter(this);
    if (m_pNameEdit != nullptr)
        connect(m_pNameEdit, &QLineEdit::textChanged, this, &CFECFileDialog::KeepOpenButtonEnabled);
}

QStringList CFECFileDialog::TypedNames() const
{
    return m_pNameEdit != nullptr ? SplitQuotedNames(m_pNameEdit->text()) : QStringList();
}

void CFECFileDialog::KeepOpenButtonEnabled()
{
    if (m_pOpenButton != nullptr && !m_pOpenButton->isEnabled() && !TypedNames().isEmpty())
        m_pOpenButton->setEnabled(true);
}

bool CFECFileDialog::eventFilter(QObject* pWatched, QEvent* pEvent)
{
    if (pWatched == m_pOpenButton && pEvent->type() == QEvent::EnabledChange)
        KeepOpenButtonEnabled();
    return QFileDialog::eventFilter(pWatched, pEvent);
}

void CFECFileDialog::accept()
{
    const QStringList names = TypedNames();
    const QString strFolder = directory().absolutePath();
    if (names.isEmpty())
        return;
    if (names.size() == 1) {
        // One folder name (".." too) opens that folder, one wildcard pattern filters the list.
        const QString strPath = JoinFolderAndName(strFolder, names.front());
        if (QFileInfo(strPath).isDir()) {
            setDirectory(QDir::cleanPath(strPath));
            m_pNameEdit->clear();
            return;
        }
        if (IsWildcard(names.front())) {
            setNameFilter(names.front());
            return;
        }
    }
    m_listPaths.clear();
    for (const QString& strName : names)
        m_listPaths.append(JoinFolderAndName(strFolder, strName));
    // Past QFileDialog::accept, which would refuse names of missing files.
    QDialog::accept(); // NOLINT(bugprone-parent-virtual-call)
}

std::optional<QStringList> CFECFileChooser::ChooseFiles(QWidget* pParent)
{
    CFECFileDialog dialog(pParent, m_strFolder);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    m_strFolder = dialog.directory().absolutePath();
    return dialog.SelectedPaths();
}

} // namespace brasko

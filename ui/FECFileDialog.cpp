#include "FECFileDialog.h"

#include "QuotedNames.h"

#include <QDateTime>
#include <QDialogButtonBox>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QScreen>
#include <QTreeView>

#include <algorithm>
#include <array>

namespace brasko {

namespace {

bool IsWildcard(const QString& strName)
{
    return strName.contains(u'*') || strName.contains(u'?');
}

// Columns of the file system model.
constexpr int kSizeColumn = 1;
constexpr int kDateColumn = 3;

} // namespace

QString CFileListDelegate::LocaleText(const QModelIndex& index)
{
    const auto* pModel = qobject_cast<const QFileSystemModel*>(index.model());
    if (pModel == nullptr)
        return {};
    if (index.column() == kSizeColumn && !pModel->isDir(index))
        return QLocale().formattedDataSize(pModel->size(index));
    if (index.column() == kDateColumn)
        return QLocale().toString(pModel->lastModified(index), QLocale::ShortFormat);
    return {};
}

void CFileListDelegate::initStyleOption(QStyleOptionViewItem* pOption, const QModelIndex& index) const
{
    QStyledItemDelegate::initStyleOption(pOption, index);
    if (const QString strText = LocaleText(index); !strText.isNull())
        pOption->text = strText;
}

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
    setItemDelegate(new CFileListDelegate(this));
    SizeForReadableColumns();
}

// Qt's dialog opens so small that its detail view cuts types and dates. It opens here large enough for a
// long name, a size, a type and a date side by side. A name column that a saved state left wider stays so;
// the others get their width again, since the last one stretches and would be saved ever wider.
void CFECFileDialog::SizeForReadableColumns()
{
    auto* pTree = findChild<QTreeView*>(QStringLiteral("treeView"));
    if (pTree == nullptr)
        return;
    const QFontMetrics metrics = pTree->fontMetrics();
    const int nChar = metrics.averageCharWidth();
    const QLocale locale;
    const std::array<QString, 4> samples = {
        QString(24, u'n'), locale.formattedDataSize(Q_INT64_C(1023) << 30), QString(14, u'n'),
        locale.toString(QDateTime(QDate(2028, 12, 28), QTime(23, 58)), QLocale::ShortFormat)};
    QHeaderView* pHeader = pTree->header();
    int nColumns = 0;
    for (int i = 0; i < pHeader->count() && i < static_cast<int>(samples.size()); ++i) {
        // Room for the text, the cell's margins and, in the first column, the file's icon.
        const int nWanted = metrics.horizontalAdvance(samples[static_cast<std::size_t>(i)]) + 3 * nChar +
                            (i == 0 ? pTree->iconSize().width() + metrics.height() : 0);
        pHeader->resizeSection(i, i == 0 ? std::max(pHeader->sectionSize(i), nWanted) : nWanted);
        nColumns += pHeader->sectionSize(i);
    }
    // The side bar, the scroll bar and the margins come on top of the columns.
    QSize wanted(nColumns + 24 * nChar, 30 * metrics.lineSpacing());
    if (const QScreen* pScreen = screen())
        wanted = wanted.boundedTo(pScreen->availableGeometry().size() * 9 / 10);
    resize(wanted.expandedTo(sizeHint()));
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

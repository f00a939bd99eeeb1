#include "ui/FECFileDialog.h"

#include "UiTestSupport.h"
#include "tests/support/TestSupport.h"

#include <QAbstractItemView>
#include <QDateTime>
#include <QDialogButtonBox>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTreeView>

#include <gtest/gtest.h>

#include <filesystem>

namespace brasko {
namespace {

using test::Child;

QString Folder(const test::CTempDir& dir)
{
    return QString::fromStdString(dir.Path().string());
}

QPushButton& DialogButton(const QFileDialog& dialog, QDialogButtonBox::StandardButton which)
{
    QPushButton* pButton = Child<QDialogButtonBox>(dialog, "buttonBox").button(which);
    if (pButton == nullptr)
        throw std::runtime_error("no such button");
    return *pButton;
}

TEST(FECFileDialog, CFECFileDialog_TypedNamesOfMissingFilesComeBackAsFullPaths)
{
    const test::CTempDir dir;
    const QString strDir = Folder(dir);
    const struct
    {
        QString strFolder;
        QString strTyped;
        QStringList expected;
    } cases[] = {
        {strDir,
         QStringLiteral("\"a.enc\" \"b c.enc\""),
         {strDir + QStringLiteral("/a.enc"), strDir + QStringLiteral("/b c.enc")}},
        {strDir, QStringLiteral("missing.enc"), {strDir + QStringLiteral("/missing.enc")}},
        // In the root folder no second separator comes between folder and name.
        {QStringLiteral("/"),
         QStringLiteral("\"brasko-none-1\" \"brasko-none-2\""),
         {QStringLiteral("/brasko-none-1"), QStringLiteral("/brasko-none-2")}},
    };
    for (const auto& c : cases) {
        CFECFileDialog dialog(nullptr, c.strFolder);
        dialog.show();
        auto& edit = Child<QLineEdit>(dialog, "fileNameEdit");
        QTest::keyClicks(&edit, c.strTyped);
        EXPECT_TRUE(DialogButton(dialog, QDialogButtonBox::Open).isEnabled()) << c.strTyped.toStdString();
        QTest::keyClick(&edit, Qt::Key_Return);
        EXPECT_FALSE(dialog.isVisible()) << c.strTyped.toStdString();
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
        EXPECT_EQ(dialog.SelectedPaths(), c.expected);
    }
}

TEST(FECFileDialog, CFECFileDialog_SelectsSeveralFilesAndOpensTypedFolders)
{
    const test::CTempDir dir;
    test::WriteFileBytes(dir / "x.enc", "x");
    test::WriteFileBytes(dir / "y.enc", "y");
    std::filesystem::create_directory(dir.Path() / "sub");
    const QString strDir = Folder(dir);

    CFECFileDialog dialog(nullptr, strDir);
    dialog.show();
    for (const char* pszView : {"listView", "treeView"})
        EXPECT_EQ(Child<QAbstractItemView>(dialog, pszView).selectionMode(),
                  QAbstractItemView::ExtendedSelection);

    // A folder's name opens the folder instead of ending the dialog.
    auto& edit = Child<QLineEdit>(dialog, "fileNameEdit");
    edit.setText(QStringLiteral("sub"));
    QTest::keyClick(&edit, Qt::Key_Return);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.directory().absolutePath(), strDir + QStringLiteral("/sub"));

    // A wildcard pattern filters the list.
    edit.setText(QStringLiteral("*.enc"));
    QTest::keyClick(&edit, Qt::Key_Return);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.selectedNameFilter(), QStringLiteral("*.enc"));

    // Two files picked in the list, as a user does with the mouse.
    edit.setText(QStringLiteral(".."));
    QTest::keyClick(&edit, Qt::Key_Return);
    ASSERT_EQ(dialog.directory().absolutePath(), strDir);
    // The list and the detail view share one selection; whichever is shown takes the focus.
    auto& list = Child<QAbstractItemView>(dialog, "listView");
    QAbstractItemView& view = list.isVisible() ? list : Child<QAbstractItemView>(dialog, "treeView");
    auto& model = Child<QFileSystemModel>(dialog, "qt_filesystem_model");
    ASSERT_TRUE(QTest::qWaitFor([&] { return model.rowCount(view.rootIndex()) == 3; }, 10000));
    view.setFocus();
    ASSERT_TRUE(view.hasFocus());
    for (const char* pszName : {"y.enc", "x.enc"}) {
        const QModelIndex index = model.index(strDir + QLatin1Char('/') + QLatin1String(pszName));
        view.selectionModel()->select(index, QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    EXPECT_TRUE(edit.text().contains(QStringLiteral("\"x.enc\"")));
    DialogButton(dialog, QDialogButtonBox::Open).click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    QStringList paths = dialog.SelectedPaths();
    paths.sort();
    EXPECT_EQ(paths, (QStringList{strDir + QStringLiteral("/x.enc"), strDir + QStringLiteral("/y.enc")}));
}

TEST(FECFileDialog, CFECFileChooser_ReturnsPathsOrNothingWhenCancelled)
{
    const test::CTempDir dir;
    const QString strDir = Folder(dir);
    CFECFileChooser chooser;

    test::WhenModal<CFECFileDialog>([&](CFECFileDialog& dialog) {
        EXPECT_TRUE(dialog.testOption(QFileDialog::DontUseNativeDialog));
        dialog.setDirectory(strDir);
        auto& edit = Child<QLineEdit>(dialog, "fileNameEdit");
        QTest::keyClicks(&edit, QStringLiteral("\"p\" \"q\""));
        QTest::keyClick(&edit, Qt::Key_Return);
    });
    const std::optional<QStringList> chosen = chooser.ChooseFiles(nullptr);
    ASSERT_TRUE(chosen.has_value());
    EXPECT_EQ(*chosen, (QStringList{strDir + QStringLiteral("/p"), strDir + QStringLiteral("/q")}));

    // The next dialog opens where the last one ended.
    test::WhenModal<CFECFileDialog>([&](CFECFileDialog& dialog) {
        EXPECT_EQ(dialog.directory().absolutePath(), strDir);
        QTest::keyClicks(&Child<QLineEdit>(dialog, "fileNameEdit"), QStringLiteral("r"));
        DialogButton(dialog, QDialogButtonBox::Cancel).click();
    });
    EXPECT_FALSE(chooser.ChooseFiles(nullptr).has_value());
}

// The detail view opens wide enough for each column's text, and shows sizes and dates in the program's
// locale (German), not in the one LANG names.
TEST(FECFileDialog, CFECFileDialog_OpensWithReadableColumnsInGermanFormats)
{
    const QLocale previous;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const test::CTempDir dir;
    const std::string strName = "ein recht langer Dateiname.xls";
    test::WriteFileBytes(dir / strName, std::string(1536, 'x'));
    QFile file(QString::fromStdString(dir / strName));
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_TRUE(
        file.setFileTime(QDateTime(QDate(2021, 3, 5), QTime(14, 7)), QFileDevice::FileModificationTime));
    file.close();

    CFECFileDialog dialog(nullptr, Folder(dir));
    dialog.setViewMode(QFileDialog::Detail);
    dialog.show();
    auto& tree = Child<QTreeView>(dialog, "treeView");
    auto& model = Child<QFileSystemModel>(dialog, "qt_filesystem_model");
    ASSERT_TRUE(QTest::qWaitFor([&] { return model.rowCount(tree.rootIndex()) == 1; }, 10000));
    const QModelIndex nameIndex = model.index(QString::fromStdString(dir / strName));
    const QModelIndex sizeIndex = nameIndex.siblingAtColumn(1);
    const QModelIndex dateIndex = nameIndex.siblingAtColumn(3);
    EXPECT_EQ(CFileListDelegate::LocaleText(sizeIndex), QStringLiteral("1,50 KiB"));
    EXPECT_EQ(CFileListDelegate::LocaleText(dateIndex), QStringLiteral("05.03.21 14:07"));
    EXPECT_NE(dynamic_cast<CFileListDelegate*>(tree.itemDelegateForIndex(dateIndex)), nullptr);

    const QFontMetrics metrics = tree.fontMetrics();
    const QHeaderView& header = *tree.header();
    const std::pair<QModelIndex, QString> cells[] = {
        {nameIndex, QString::fromStdString(strName)},
        {sizeIndex, CFileListDelegate::LocaleText(sizeIndex)},
        {nameIndex.siblingAtColumn(2), model.data(nameIndex.siblingAtColumn(2)).toString()},
        {dateIndex, CFileListDelegate::LocaleText(dateIndex)},
    };
    for (const auto& [index, strText] : cells)
        EXPECT_GT(header.sectionSize(index.column()), metrics.horizontalAdvance(strText))
            << strText.toStdString();
    // All four columns side by side, none pushed out of view.
    EXPECT_EQ(tree.horizontalScrollBar()->maximum(), 0);
    QLocale::setDefault(previous);
}

} // namespace
} // namespace brasko

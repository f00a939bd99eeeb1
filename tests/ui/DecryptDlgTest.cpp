#include "ui/DecryptDlg.h"

#include "FileHandle.h"
#include "Messages.h"
#include "UiTestSupport.h"
#include "tests/support/TestSupport.h"
#include "ui/BatchProgressDlg.h"

#include <QAccessible>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QStyleOptionButton>
#include <QTest>
#include <QTextDocument>
#include <QTimer>
#include <QUrl>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <string_view>
#include <unistd.h>

namespace brasko {
namespace {

namespace fs = std::filesystem;
using test::Child;
using test::Messages;

const std::string kPassword = "pw";
const std::string kKey = kPassword + std::string(22, ' ');

class DecryptDlgTest : public ::testing::Test
{
protected:
    DecryptDlgTest() : m_dlg(m_chooser, m_messages)
    {
        m_dlg.show();
        m_dlg.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&m_dlg));
    }

    QPushButton& Button(const char* pszName) { return Child<QPushButton>(m_dlg, pszName); }
    QLineEdit& Edit(const char* pszName) { return Child<QLineEdit>(m_dlg, pszName); }
    QListWidget& List() { return Child<QListWidget>(m_dlg, "m_listFiles"); }

    QStringList ListEntries()
    {
        QStringList entries;
        for (int i = 0; i < List().count(); ++i)
            entries.append(List().item(i)->text());
        return entries;
    }

    // A file encrypted under the password "pw", its plaintext remembered.
    QString MakeInput(const std::string& strName)
    {
        m_plain[strName] = test::RandomBytes(40, static_cast<unsigned>(m_plain.size() + 7));
        test::WriteFileBytes(m_dir / strName, test::OpenSslEncrypt(kKey, m_plain[strName]));
        return QString::fromStdString(m_dir / strName);
    }

    void Browse(const QStringList& paths)
    {
        m_chooser.m_answer = paths;
        QTest::mouseClick(&Button("m_btnBrowse"), Qt::LeftButton);
    }

    // Starts the batch with action and waits until it has ended.
    void RunBatch(const std::function<void()>& action)
    {
        QSignalSpy finished(&m_dlg, &CDecryptDlg::BatchFinished);
        action();
        ASSERT_TRUE(finished.count() == 1 || finished.wait(60000));
        EXPECT_FALSE(m_dlg.IsBatchRunning());
    }

    void ClickDecrypt()
    {
        RunBatch([this] { QTest::mouseClick(&Button("m_btnDecrypt"), Qt::LeftButton); });
    }

    QString FocusName() const
    {
        QWidget* pFocus = QApplication::focusWidget();
        return pFocus != nullptr ? pFocus->objectName() : QString();
    }

    test::CTempDir m_dir;
    std::map<std::string, std::string> m_plain;
    test::CFakeFileChooser m_chooser;
    test::CScriptedMessageSink m_messages;
    CDecryptDlg m_dlg;
};

TEST_F(DecryptDlgTest, DecryptDlg_StartState)
{
    EXPECT_EQ(m_dlg.windowTitle(), test::MainDialogTitle());
    EXPECT_EQ(Edit("m_editPrefix").text(), QStringLiteral("e_"));
    EXPECT_EQ(Edit("m_editSuffix").text(), QString());
    EXPECT_EQ(Edit("m_editExtension").text(), QString());
    EXPECT_EQ(Edit("m_editPassword").text(), QString());
    EXPECT_EQ(List().count(), 0);
    EXPECT_EQ(FocusName(), QStringLiteral("m_btnBrowse"));
    // Fixed size, the program's own icon.
    EXPECT_EQ(m_dlg.minimumSize(), m_dlg.maximumSize());
    EXPECT_FALSE(m_dlg.windowIcon().isNull());
    EXPECT_FALSE(m_dlg.windowIcon().pixmap(32, 32).isNull());
}

TEST_F(DecryptDlgTest, DecryptDlg_ControlsAndTexts)
{
    const struct
    {
        const char* pszName;
        const char* pszClass;
        const char* pszText;
    } controls[] = {
        {"m_btnBrowse", "QPushButton", "Durchsuchen..."},
        {"m_btnDecrypt", "QPushButton", "Entschlüsseln"},
        {"m_btnCancel", "QPushButton", "Beenden"},
        {"m_btnHelp", "QPushButton", "Hilfe"},
        {"m_txtHeader", "QLabel", "Entschlüsseln einer Datei"},
        {"m_grpPassword", "QGroupBox", "Kennwort"},
        {"m_grpInputFiles", "QGroupBox", "Eingabedateien"},
        {"m_grpTemplate", "QGroupBox", "Vorlage der Ausgabedatei"},
        {"m_txtPrefix", "QLabel", "Dateipräfix"},
        {"m_txtSuffix", "QLabel", "Dateisuffix"},
        {"m_txtExtension", "QLabel", "Dateiendung"},
    };
    for (const auto& c : controls) {
        const QWidget& widget = Child<QWidget>(m_dlg, c.pszName);
        EXPECT_STREQ(widget.metaObject()->className(), c.pszClass) << c.pszName;
        const QVariant text = widget.property(qobject_cast<const QGroupBox*>(&widget) ? "title" : "text");
        EXPECT_EQ(text.toString(), QString::fromUtf8(c.pszText)) << c.pszName;
        // Each text fits its control: nothing is cut off.
        const auto* pButton = qobject_cast<const QPushButton*>(&widget);
        if (pButton != nullptr || qobject_cast<const QLabel*>(&widget) != nullptr) {
            EXPECT_LE(widget.fontMetrics().horizontalAdvance(text.toString()) + (pButton ? 6 : 0),
                      widget.width())
                << c.pszName;
        }
    }
    // The help button exists but is not shown; no button is a default button.
    EXPECT_TRUE(Button("m_btnHelp").isHidden());
    for (const QPushButton* pButton : m_dlg.findChildren<QPushButton*>()) {
        EXPECT_FALSE(pButton->autoDefault()) << pButton->objectName().toStdString();
        EXPECT_FALSE(pButton->isDefault()) << pButton->objectName().toStdString();
    }
    // Every control lies inside the dialog.
    for (const QWidget* pChild : m_dlg.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
        EXPECT_TRUE(m_dlg.rect().contains(pChild->geometry())) << pChild->objectName().toStdString();
}

// A screen reader names every field and the list, finds the visible labels tied to their fields, skips the
// hidden help button, and the starting focus is drawn.
TEST_F(DecryptDlgTest, DecryptDlg_AccessibleNamesAndVisibleStartingFocus)
{
    const std::pair<const char*, const char*> named[] = {
        {"m_editPassword", "Kennwort"},  {"m_listFiles", "Eingabedateien"},  {"m_editPrefix", "Dateipräfix"},
        {"m_editSuffix", "Dateisuffix"}, {"m_editExtension", "Dateiendung"},
    };
    for (const auto& [pszWidget, pszName] : named) {
        QAccessibleInterface* pAccessible =
            QAccessible::queryAccessibleInterface(&Child<QWidget>(m_dlg, pszWidget));
        ASSERT_NE(pAccessible, nullptr) << pszWidget;
        EXPECT_EQ(pAccessible->text(QAccessible::Name), QString::fromUtf8(pszName)) << pszWidget;
    }
    for (const char* pszEdit : {"m_editPrefix", "m_editSuffix", "m_editExtension"}) {
        const auto labels =
            QAccessible::queryAccessibleInterface(&Edit(pszEdit))->relations(QAccessible::Label);
        ASSERT_EQ(labels.size(), 1) << pszEdit;
        EXPECT_EQ(labels.front().first->object()->objectName(),
                  QString::fromLatin1(pszEdit).replace(QStringLiteral("m_edit"), QStringLiteral("m_txt")));
    }

    // Every control a screen reader presents has a name; the help button is not presented.
    QAccessibleInterface* pDialog = QAccessible::queryAccessibleInterface(&m_dlg);
    int nPresented = 0;
    for (int i = 0; i < pDialog->childCount(); ++i) {
        QAccessibleInterface* pChild = pDialog->child(i);
        if (pChild->state().invisible) {
            EXPECT_EQ(pChild->object(), &Button("m_btnHelp"));
            continue;
        }
        ++nPresented;
        EXPECT_FALSE(pChild->text(QAccessible::Name).isEmpty())
            << pChild->object()->objectName().toStdString();
    }
    EXPECT_EQ(nPresented, pDialog->childCount() - 1);

    QStyleOptionButton option;
    option.initFrom(&Button("m_btnBrowse"));
    EXPECT_TRUE(option.state.testFlag(QStyle::State_HasFocus));
    EXPECT_TRUE(option.state.testFlag(QStyle::State_KeyboardFocusChange));
}

TEST_F(DecryptDlgTest, DecryptDlg_TabOrderFollowsTemplate)
{
    const QStringList order = {QStringLiteral("m_btnDecrypt"),    QStringLiteral("m_btnCancel"),
                               QStringLiteral("m_editPassword"),  QStringLiteral("m_listFiles"),
                               QStringLiteral("m_editPrefix"),    QStringLiteral("m_editSuffix"),
                               QStringLiteral("m_editExtension"), QStringLiteral("m_btnBrowse")};
    for (const QString& strNext : order) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(FocusName(), strNext);
    }
}

TEST_F(DecryptDlgTest, DecryptDlg_EnterPressesFocusedButtonElseRunsBatch)
{
    Button("m_btnBrowse").setFocus();
    m_chooser.m_answer = std::nullopt;
    QTest::keyClick(&Button("m_btnBrowse"), Qt::Key_Return);
    EXPECT_EQ(m_chooser.m_nCalls, 1);
    EXPECT_EQ(m_chooser.m_pParent, &m_dlg);
    EXPECT_TRUE(m_messages.m_messages.empty());

    // The batch over an empty list only says that it succeeded.
    std::size_t nRuns = 0;
    for (const char* pszName : {"m_btnDecrypt", "m_editPassword", "m_listFiles", "m_editPrefix",
                                "m_editSuffix", "m_editExtension"}) {
        auto& widget = Child<QWidget>(m_dlg, pszName);
        widget.setFocus();
        RunBatch([&] { QTest::keyClick(&widget, pszName[2] == 'l' ? Qt::Key_Enter : Qt::Key_Return); });
        ++nRuns;
        EXPECT_EQ(m_messages.m_messages.size(), nRuns) << pszName;
    }
    EXPECT_EQ(m_chooser.m_nCalls, 1);
    EXPECT_EQ(m_messages.m_messages.back(),
              std::make_pair(std::string(messages::kBatchSucceeded), EMessageIcon::Default));
    EXPECT_TRUE(m_dlg.isVisible());

    Button("m_btnCancel").setFocus();
    QTest::keyClick(&Button("m_btnCancel"), Qt::Key_Return);
    EXPECT_FALSE(m_dlg.isVisible());
    EXPECT_EQ(m_dlg.result(), QDialog::Rejected);
}

TEST_F(DecryptDlgTest, DecryptDlg_EscapeBeendenAndCloseBoxClose)
{
    const std::vector<std::function<void()>> ways = {
        [&] { QTest::keyClick(&Edit("m_editPassword"), Qt::Key_Escape); },
        [&] { QTest::keyClick(&List(), Qt::Key_Escape); },
        [&] { QTest::mouseClick(&Button("m_btnCancel"), Qt::LeftButton); },
        [&] { m_dlg.close(); },
    };
    for (const auto& close : ways) {
        m_dlg.show();
        close();
        EXPECT_FALSE(m_dlg.isVisible());
    }
    EXPECT_EQ(m_chooser.m_nCalls, 0);
    EXPECT_TRUE(m_messages.m_messages.empty());
}

TEST_F(DecryptDlgTest, DecryptDlg_F1AndHelpButtonAskForHelp)
{
    QSignalSpy help(&m_dlg, &CDecryptDlg::HelpRequested);
    QTest::keyClick(&Button("m_btnBrowse"), Qt::Key_F1);
    QTest::keyClick(&Edit("m_editPassword"), Qt::Key_F1);
    QTest::keyClick(&List(), Qt::Key_F1);
    Button("m_btnHelp").click();
    EXPECT_EQ(help.count(), 4);
    EXPECT_EQ(m_chooser.m_nCalls, 0);
    EXPECT_TRUE(m_messages.m_messages.empty());
}

TEST_F(DecryptDlgTest, DecryptDlg_PasswordMaskedAtMost24AllVisible)
{
    QLineEdit& password = Edit("m_editPassword");
    EXPECT_EQ(password.echoMode(), QLineEdit::Password);
    QTest::keyClicks(&password, QStringLiteral("abcdefghijklmnopqrstuvwxyz0123"));
    EXPECT_EQ(password.text(), QStringLiteral("abcdefghijklmnopqrstuvwx"));
    // With the cursor after the 24th character the first one is still in view: the field never scrolls.
    EXPECT_EQ(password.cursorPosition(), 24);
    EXPECT_EQ(password.cursorPositionAt(QPoint(password.contentsRect().left() + 4, password.height() / 2)),
              0);
    EXPECT_GE(password.width(), password.fontMetrics().horizontalAdvance(QString(24, QChar(0x25CF))) / 2);
}

TEST_F(DecryptDlgTest, DecryptDlg_ListSortedWithoutRegardToCaseAndNotSelectable)
{
    Browse({QStringLiteral("/d/b.enc"), QStringLiteral("/d/C.enc"), QStringLiteral("/d/a2.enc"),
            QStringLiteral("/d/A.enc"), QStringLiteral("/D/z.enc")});
    EXPECT_EQ(ListEntries(), (QStringList{QStringLiteral("/d/A.enc"), QStringLiteral("/d/a2.enc"),
                                          QStringLiteral("/d/b.enc"), QStringLiteral("/d/C.enc"),
                                          QStringLiteral("/D/z.enc")}));
    QListWidget& list = List();
    // Entries can be selected, for Delete to remove them.
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, list.visualItemRect(list.item(1)).center());
    EXPECT_EQ(list.selectedItems(), QList<QListWidgetItem*>{list.item(1)});
    // Long paths are cut at the right edge, neither shortened with dots nor wrapped nor scrolled to.
    EXPECT_EQ(list.horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    EXPECT_EQ(list.textElideMode(), Qt::ElideNone);
    EXPECT_FALSE(list.wordWrap());
}

// Files and folders dropped on the dialog, wherever it is, join the list; a folder stands for the regular
// files below it; what is listed already is not added twice; dropped names never become a field's text.
TEST_F(DecryptDlgTest, DecryptDlg_DroppedFilesAndFoldersJoinTheList)
{
    Browse({QStringLiteral("/d/schon.enc")});
    MakeInput("a.bin");
    fs::create_directories(m_dir / "ordner/unter");
    MakeInput("ordner/z.bin");
    MakeInput("ordner/unter/b.bin");
    fs::create_symlink(m_dir / "ordner/unter", m_dir / "ordner/verweis");
    const auto url = [this](const std::string& strName) {
        return QUrl::fromLocalFile(QString::fromStdString(m_dir / strName));
    };
    const auto drop = [](QWidget* pTarget, const QList<QUrl>& urls) {
        QMimeData data;
        data.setUrls(urls);
        data.setText(urls.first().toLocalFile());
        const QPoint at = pTarget->rect().center();
        QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(pTarget, &enter);
        EXPECT_TRUE(enter.isAccepted());
        QDropEvent dropped(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(pTarget, &dropped);
        EXPECT_TRUE(dropped.isAccepted());
    };
    drop(&m_dlg, {url("a.bin"), url("ordner")});
    const QStringList expected = {QStringLiteral("/d/schon.enc"), QString::fromStdString(m_dir / "a.bin"),
                                  QString::fromStdString(m_dir / "ordner/unter/b.bin"),
                                  QString::fromStdString(m_dir / "ordner/z.bin")};
    QStringList sorted = expected;
    std::sort(sorted.begin(), sorted.end(),
              [](const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) < 0; });
    EXPECT_EQ(ListEntries(), sorted);
    // Again, onto the list and onto a field: nothing new, and the field keeps its text.
    drop(List().viewport(), {url("ordner/z.bin")});
    drop(&Edit("m_editSuffix"), {url("a.bin")});
    EXPECT_EQ(ListEntries(), sorted);
    EXPECT_EQ(Edit("m_editSuffix").text(), QString());
}

// Delete in the list removes the selected entries and only those; elsewhere it does not touch the list.
TEST_F(DecryptDlgTest, DecryptDlg_DeleteRemovesSelectedEntries)
{
    Browse({QStringLiteral("/d/a"), QStringLiteral("/d/b"), QStringLiteral("/d/c"), QStringLiteral("/d/d")});
    QListWidget& list = List();
    list.item(1)->setSelected(true);
    list.item(3)->setSelected(true);
    Edit("m_editPrefix").setFocus();
    QTest::keyClick(&Edit("m_editPrefix"), Qt::Key_Delete);
    EXPECT_EQ(list.count(), 4);
    list.setFocus();
    QTest::keyClick(&list, Qt::Key_Delete);
    EXPECT_EQ(ListEntries(), (QStringList{QStringLiteral("/d/a"), QStringLiteral("/d/c")}));
}

// Paths given to the program fill the list like a drop: relative ones from the current folder, folders
// by their files, missing files as they are (the batch reports them).
TEST_F(DecryptDlgTest, DecryptDlg_AddPathsTakesArguments)
{
    MakeInput("a.bin");
    fs::create_directory(m_dir / "ordner");
    MakeInput("ordner/b.bin");
    const fs::path previous = fs::current_path();
    fs::current_path(m_dir.Path());
    m_dlg.AddPaths({QStringLiteral("a.bin"), QStringLiteral("./ordner/"), QStringLiteral("fehlt.bin")});
    fs::current_path(previous);
    EXPECT_EQ(ListEntries(), (QStringList{QString::fromStdString(m_dir / "a.bin"),
                                          QString::fromStdString(m_dir / "fehlt.bin"),
                                          QString::fromStdString(m_dir / "ordner/b.bin")}));
}

// The template fields show the output name the template gives the first listed input (bericht.xls while the
// list is empty), as the user types; each entry shows its full path. Names holding markup show as spelled.
TEST_F(DecryptDlgTest, DecryptDlg_ToolTipsShowOutputNameAndFullPath)
{
    const auto shown = [](const QString& strToolTip) {
        QTextDocument document;
        document.setHtml(strToolTip);
        return document.toPlainText();
    };
    const auto expectTemplateTips = [&](const char* pszName) {
        for (const char* pszEdit : {"m_editPrefix", "m_editSuffix", "m_editExtension"})
            EXPECT_EQ(shown(Edit(pszEdit).toolTip()), QString::fromUtf8(pszName)) << pszEdit;
    };
    expectTemplateTips("e_bericht.xls");
    QTest::keyClicks(&Edit("m_editSuffix"), QStringLiteral("_s"));
    expectTemplateTips("e_bericht_s.xls");
    QTest::keyClicks(&Edit("m_editExtension"), QStringLiteral(".txt"));
    expectTemplateTips("e_bericht_s.xls.txt");
    Edit("m_editPrefix").selectAll();
    QTest::keyClicks(&Edit("m_editPrefix"), QStringLiteral("<i>x"));
    expectTemplateTips("<i>xbericht_s.xls.txt");

    const QString strPath = QString::fromUtf8("/d/<b>z & [1]\nneu.tar.gz");
    Browse({strPath});
    expectTemplateTips("<i>x<b>z & [1]\nneu_s.tar.gz.txt");
    EXPECT_EQ(shown(List().item(0)->toolTip()), strPath);
    Browse({});
    expectTemplateTips("<i>xbericht_s.xls.txt");
}

TEST_F(DecryptDlgTest, DecryptDlg_BrowseCancelKeepsListBrowseAgainReplaces)
{
    Browse({QStringLiteral("/d/one"), QStringLiteral("/d/two")});
    m_chooser.m_answer = std::nullopt;
    QTest::mouseClick(&Button("m_btnBrowse"), Qt::LeftButton);
    EXPECT_EQ(ListEntries(), (QStringList{QStringLiteral("/d/one"), QStringLiteral("/d/two")}));
    Browse({QStringLiteral("/e/three")});
    EXPECT_EQ(ListEntries(), QStringList{QStringLiteral("/e/three")});
    EXPECT_EQ(m_chooser.m_nCalls, 3);
}

TEST_F(DecryptDlgTest, DecryptDlg_BatchDecryptsListReportsMissingAndKeepsContents)
{
    const QString strFirst = MakeInput("a.bin");
    const QString strMissing = QString::fromStdString(m_dir / "b.bin");
    // 13 bytes: one whole block and a short final chunk.
    test::WriteFileBytes(m_dir / "c.bin", test::RandomBytes(13, 5));
    const QString strLast = QString::fromStdString(m_dir / "c.bin");
    Browse({strLast, strMissing, strFirst});
    QTest::keyClicks(&Edit("m_editPassword"), QString::fromStdString(kPassword));
    Edit("m_editPrefix").setText(QStringLiteral("p_"));
    Edit("m_editSuffix").setText(QStringLiteral("_s"));
    Edit("m_editExtension").setText(QStringLiteral(".e"));
    const QStringList listBefore = ListEntries();

    testing::internal::CaptureStdout();
    ClickDecrypt();
    const std::string strStdout = testing::internal::GetCapturedStdout();

    EXPECT_EQ(m_messages.m_messages,
              (Messages{{messages::FileNotFound(strMissing.toStdString()), EMessageIcon::Default},
                        {messages::kBatchFailed, EMessageIcon::Stop}}));
    EXPECT_EQ(test::ReadFileBytes(m_dir / "p_a_s.bin.e"), m_plain["a.bin"]);
    EXPECT_EQ(test::ReadFileBytes(m_dir / "p_c_s.bin.e"),
              test::ExpectedPlaintext(kKey, test::ReadFileBytes(m_dir / "c.bin")));
    EXPECT_EQ(strStdout, std::string(messages::kTraceLine) + "\n" + messages::kTraceLine + "\n");
    // The dialog stays open, everything as it was.
    EXPECT_TRUE(m_dlg.isVisible());
    EXPECT_EQ(ListEntries(), listBefore);
    EXPECT_EQ(Edit("m_editPassword").text(), QString::fromStdString(kPassword));
    EXPECT_EQ(Edit("m_editPrefix").text(), QStringLiteral("p_"));
    EXPECT_EQ(Edit("m_editSuffix").text(), QStringLiteral("_s"));
    EXPECT_EQ(Edit("m_editExtension").text(), QStringLiteral(".e"));
    EXPECT_EQ(m_dlg.ProgressDisplay(), nullptr);
}

// A file that fails for a reason the user can act on gets the command line's sentence with the stop sign, in
// list order and before the summary; a missing file keeps its one message, and a refused output (its own
// message says why) gets no second one.
TEST_F(DecryptDlgTest, DecryptDlg_FailedFileSaysWhy)
{
    const QString strFolderAtOutput = MakeInput("a.bin");
    fs::create_directory(m_dir / "e_a.bin");
    const QString strMissing = QString::fromStdString(m_dir / "b.bin");
    const QString strDanglingOutput = MakeInput("c.bin");
    fs::create_symlink(m_dir / "nirgends", m_dir / "e_c.bin");
    const QString strFine = MakeInput("d.bin");
    Browse({strFine, strDanglingOutput, strMissing, strFolderAtOutput});
    QTest::keyClicks(&Edit("m_editPassword"), QString::fromStdString(kPassword));

    testing::internal::CaptureStdout();
    ClickDecrypt();
    testing::internal::GetCapturedStdout();

    const std::string strOutput = m_dir / "e_a.bin";
    EXPECT_EQ(m_messages.m_messages,
              (Messages{{"Die Ausgabedatei '" + strOutput + "' kann nicht angelegt werden: Ist ein Ordner",
                         EMessageIcon::Stop},
                        {messages::FileNotFound(strMissing.toStdString()), EMessageIcon::Default},
                        {messages::OutputIsDanglingLink(strDanglingOutput.toStdString(), m_dir / "e_c.bin"),
                         EMessageIcon::Stop},
                        {messages::kBatchFailed, EMessageIcon::Stop}}));
    EXPECT_EQ(test::ReadFileBytes(m_dir / "e_d.bin"), m_plain["d.bin"]);
}

TEST_F(DecryptDlgTest, DecryptDlg_EmptyTemplateOnlyWarns)
{
    const QString strInput = MakeInput("a.bin");
    Browse({strInput});
    Edit("m_editPrefix").clear();
    ClickDecrypt();
    EXPECT_EQ(m_messages.m_messages, (Messages{{messages::kTemplateEmpty, EMessageIcon::Stop}}));
    EXPECT_EQ(m_dir.List(), std::vector<std::string>{"a.bin"});
}

// A file's message is dismissed before the next file starts, and while the batch runs the dialog ignores
// clicks and keys: no browsing, no second batch, no closing.
TEST_F(DecryptDlgTest, DecryptDlg_MessagesOneAtATimeDialogIgnoresInputMeanwhile)
{
    const QString strFirst = MakeInput("a.bin");
    const QString strMissing = QString::fromStdString(m_dir / "b.bin");
    const QString strLast = MakeInput("c.bin");
    Browse({strFirst, strMissing, strLast});
    QTest::keyClicks(&Edit("m_editPassword"), QString::fromStdString(kPassword));

    bool bChecked = false;
    m_messages.m_onMessage = [&](const std::string& strText) {
        if (strText != messages::FileNotFound(strMissing.toStdString()))
            return;
        bChecked = true;
        EXPECT_TRUE(fs::exists(m_dir / "e_a.bin"));
        EXPECT_FALSE(fs::exists(m_dir / "e_c.bin"));
        EXPECT_TRUE(m_dlg.IsBatchRunning());
        QTest::mouseClick(&Button("m_btnBrowse"), Qt::LeftButton);
        QTest::mouseClick(&Button("m_btnDecrypt"), Qt::LeftButton);
        QTest::keyClick(&Edit("m_editPassword"), Qt::Key_Return);
        QTest::keyClicks(&Edit("m_editPrefix"), QStringLiteral("x"));
        QTest::keyClick(&List(), Qt::Key_Escape);
        QTest::mouseClick(&Button("m_btnCancel"), Qt::LeftButton);
        m_dlg.close();
        EXPECT_TRUE(m_dlg.isVisible());
    };
    testing::internal::CaptureStdout();
    ClickDecrypt();
    testing::internal::GetCapturedStdout();

    EXPECT_TRUE(bChecked);
    EXPECT_EQ(m_chooser.m_nCalls, 1);
    EXPECT_EQ(m_messages.m_messages.size(), 2U);
    EXPECT_EQ(Edit("m_editPrefix").text(), QStringLiteral("e_"));
    EXPECT_TRUE(fs::exists(m_dir / "e_c.bin"));
    EXPECT_TRUE(m_dlg.isVisible());

    // Afterwards the dialog answers again.
    QTest::keyClick(&List(), Qt::Key_Escape);
    EXPECT_FALSE(m_dlg.isVisible());
}

TEST_F(DecryptDlgTest, DecryptDlg_ShortBatchShowsNoProgress)
{
    Browse({MakeInput("a.bin"), MakeInput("b.bin")});
    bool bProgressShown = true;
    m_messages.m_onMessage = [&](const std::string&) {
        bProgressShown = m_dlg.ProgressDisplay() != nullptr && m_dlg.ProgressDisplay()->isVisible();
    };
    testing::internal::CaptureStdout();
    ClickDecrypt();
    testing::internal::GetCapturedStdout();
    EXPECT_FALSE(bProgressShown);
}

TEST_F(DecryptDlgTest, DecryptDlg_ProgressComesUpWhileWorking)
{
    // Any bytes will do: only the time the decryption takes matters here.
    test::WriteFileBytes(m_dir / "big.bin", test::RandomBytes(std::size_t{32} << 20, 3));
    Browse({QString::fromStdString(m_dir / "big.bin")});
    m_dlg.SetProgressDelay(20);
    QString strLabel;
    int nValue = -1;
    int nMaximum = -1;
    m_messages.m_onMessage = [&](const std::string&) {
        const CBatchProgressDlg* pProgress = m_dlg.ProgressDisplay();
        ASSERT_NE(pProgress, nullptr);
        EXPECT_TRUE(pProgress->isVisible());
        EXPECT_TRUE(pProgress->isModal());
        strLabel = pProgress->LabelText();
        nValue = pProgress->Value();
        nMaximum = pProgress->Maximum();
    };
    testing::internal::CaptureStdout();
    ClickDecrypt();
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(strLabel, QStringLiteral("Datei 1 von 1\nbig.bin"));
    EXPECT_EQ(nValue, nMaximum);
    EXPECT_EQ(m_dlg.ProgressDisplay(), nullptr);
}

TEST_F(DecryptDlgTest, DecryptDlg_ProgressWaitsWhileAMessageIsShown)
{
    Browse({QString::fromStdString(m_dir / "a-missing.bin"), MakeInput("b.bin")});
    // The worker must reach the first message before the delay ends, also on a loaded machine under
    // ThreadSanitizer; the message then stays open well beyond the delay.
    constexpr int kDelayMs = 1000;
    m_dlg.SetProgressDelay(kDelayMs);
    bool bShownDuringMessage = true;
    m_messages.m_onMessage = [&](const std::string& strText) {
        if (strText == messages::kBatchSucceeded || strText == messages::kBatchFailed)
            return;
        QTest::qWait(kDelayMs * 3 / 2);
        bShownDuringMessage = m_dlg.ProgressDisplay()->isVisible();
    };
    testing::internal::CaptureStdout();
    ClickDecrypt();
    testing::internal::GetCapturedStdout();
    EXPECT_FALSE(bShownDuringMessage);
    EXPECT_EQ(m_messages.m_messages.size(), 2U);
}

// "Abbrechen" on the progress window: the file being decrypted is abandoned (its older output stays, nothing
// is left behind), no later file starts, and a message says so instead of the summary.
TEST_F(DecryptDlgTest, DecryptDlg_CancelStopsTheBatchCleanly)
{
    test::WriteFileBytes(m_dir / "big.bin", test::RandomBytes(std::size_t{64} << 20, 5));
    test::WriteFileBytes(m_dir / "e_big.bin", "alt");
    Browse({QString::fromStdString(m_dir / "big.bin"), MakeInput("c.bin")});
    m_dlg.SetProgressDelay(20);
    QTimer poll;
    bool bClicked = false;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        CBatchProgressDlg* pProgress = m_dlg.ProgressDisplay();
        // Once the batch has decrypted a first part: the trial of the password before it reports none.
        if (bClicked || pProgress == nullptr || !pProgress->isVisible() || pProgress->Value() == 0)
            return;
        bClicked = true;
        QTest::mouseClick(&Child<QPushButton>(*pProgress, "m_btnCancelBatch"), Qt::LeftButton);
    });
    poll.start(10);
    testing::internal::CaptureStdout();
    ClickDecrypt();
    testing::internal::GetCapturedStdout();
    EXPECT_TRUE(bClicked);
    EXPECT_EQ(m_messages.m_messages, (Messages{{messages::kBatchCancelled, EMessageIcon::Default}}));
    EXPECT_EQ(test::ReadFileBytes(m_dir / "e_big.bin"), "alt");
    EXPECT_EQ(m_dir.List(), (std::vector<std::string>{"big.bin", "c.bin", "e_big.bin"}));
    EXPECT_EQ(m_dlg.ProgressDisplay(), nullptr);
}

// Before a batch, the password is tried on the first input that can be opened; random-looking content asks
// whether to go on. Nein runs nothing and returns to the password, Ja runs the batch as before.
TEST_F(DecryptDlgTest, DecryptDlg_AsksBeforeBatchWhenPasswordGivesRandomContent)
{
    std::string strText;
    for (int i = 0; i < 40; ++i)
        strText += "Zeile " + std::to_string(i) + ": Umsätze und Kosten im Überblick.\n";
    strText.resize(strText.size() / 8 * 8);
    test::WriteFileBytes(m_dir / "b.txt", test::OpenSslEncrypt(kKey, strText));
    const QString strMissing = QString::fromStdString(m_dir / "a.bin");
    const QString strInput = QString::fromStdString(m_dir / "b.txt");
    Browse({strInput, strMissing});
    const std::string strWrong = "px";
    const std::string strQuestion = messages::PasswordLooksWrong(strInput.toStdString());
    const Messages batchMessages{{messages::FileNotFound(strMissing.toStdString()), EMessageIcon::Default},
                                 {messages::kBatchFailed, EMessageIcon::Stop}};
    const struct
    {
        std::string strPassword;
        bool bAnswerYes;
        bool bAsked;
        bool bBatchRuns;
    } cases[] = {
        {kPassword, false, false, true},
        {strWrong, false, true, false},
        {strWrong, true, true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.strPassword + (c.bAnswerYes ? " Ja" : " Nein"));
        std::filesystem::remove(m_dir / "e_b.txt");
        m_messages.m_messages.clear();
        m_messages.m_questions.clear();
        m_messages.m_bAnswerYes = c.bAnswerYes;
        Edit("m_editPassword").setText(QString::fromStdString(c.strPassword));
        Edit("m_editPrefix").setFocus();
        testing::internal::CaptureStdout();
        ClickDecrypt();
        testing::internal::GetCapturedStdout();
        EXPECT_FALSE(m_dlg.IsBatchRunning());
        EXPECT_EQ(m_messages.m_questions,
                  c.bAsked ? std::vector<std::string>{strQuestion} : std::vector<std::string>{});
        if (c.bBatchRuns) {
            EXPECT_EQ(m_messages.m_messages, batchMessages);
            const std::string strKey = c.strPassword + std::string(24 - c.strPassword.size(), ' ');
            EXPECT_EQ(test::ReadFileBytes(m_dir / "e_b.txt"),
                      test::OpenSslDecrypt(strKey, test::ReadFileBytes(m_dir / "b.txt")));
        } else {
            EXPECT_TRUE(m_messages.m_messages.empty());
            EXPECT_EQ(m_dir.List(), std::vector<std::string>{"b.txt"});
            EXPECT_EQ(FocusName(), QStringLiteral("m_editPassword"));
        }
    }

    // Without a template nothing would be decrypted: only the batch's own warning, no question.
    m_messages.m_messages.clear();
    m_messages.m_questions.clear();
    Edit("m_editPassword").setText(QString::fromStdString(strWrong));
    Edit("m_editPrefix").clear();
    ClickDecrypt();
    EXPECT_TRUE(m_messages.m_questions.empty());
    EXPECT_EQ(m_messages.m_messages, (Messages{{messages::kTemplateEmpty, EMessageIcon::Stop}}));
}

// The trial of the password runs off the UI thread: a trial whose read waits for its input (a file on a hung
// server) leaves the dialog drawn, its progress window comes up after the usual delay, and "Abbrechen" ends
// the read and the run. Nothing is asked, nothing written, and the run says it was cancelled.
TEST_F(DecryptDlgTest, DecryptDlg_TrialThatWaitsIsOffTheUiThreadAndCancelled)
{
    const int kProgressDelayMs = 50;
    const int kTimeoutMs = 10000;
    int fds[2] = {-1, -1};
    ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
    const CFileHandle readEnd(fds[0]);
    const CFileHandle writeEnd(fds[1]);
    std::atomic<int> nTrials{0};
    m_dlg.SetPasswordTrial(
        [&](const std::string&, std::string_view, IMessageSink&, const StopAskedFn& stopAsked) {
            ++nTrials;
            char cByte = 0;
            if (ReadFully(readEnd.Get(), &cByte, 1, stopAsked) < 0)
                return SDecryptOutcome{EDecryptError::Cancelled, ECANCELED};
            return SDecryptOutcome{};
        });
    Browse({MakeInput("a.bin")});
    m_dlg.SetProgressDelay(kProgressDelayMs);
    QSignalSpy finished(&m_dlg, &CDecryptDlg::BatchFinished);
    QTest::mouseClick(&Button("m_btnDecrypt"), Qt::LeftButton);
    EXPECT_TRUE(m_dlg.IsBatchRunning());
    const bool bShown = QTest::qWaitFor(
        [this] { return m_dlg.ProgressDisplay() != nullptr && m_dlg.ProgressDisplay()->isVisible(); },
        kTimeoutMs);
    EXPECT_TRUE(bShown);
    EXPECT_EQ(nTrials, 1);
    if (bShown)
        QTest::mouseClick(&Child<QPushButton>(*m_dlg.ProgressDisplay(), "m_btnCancelBatch"), Qt::LeftButton);
    EXPECT_TRUE(finished.count() == 1 || finished.wait(kTimeoutMs));
    EXPECT_FALSE(m_dlg.IsBatchRunning());
    EXPECT_TRUE(m_messages.m_questions.empty());
    EXPECT_EQ(m_messages.m_messages, (Messages{{messages::kBatchCancelled, EMessageIcon::Default}}));
    EXPECT_EQ(m_dir.List(), std::vector<std::string>{"a.bin"});
}

// The password typed is held as UTF-8 only in the dialog's locked buffer: while the run waits in its trial
// there is no other copy in writable memory (the request refers to the buffer), and once the run is over
// the buffer is wiped. The field keeps its own text, in UTF-16.
TEST_F(DecryptDlgTest, DecryptDlg_PasswordOnlyInLockedBufferAndWipedAfterRun)
{
    const int kTimeoutMs = 10000;
    // ASCII, so that its UTF-16 units are its UTF-8 bytes; the test holds it only masked.
    constexpr char16_t kSecret[] = u"Kx9#Wortgeheimnis-7q";
    constexpr unsigned char kMask = 0x5A;
    std::string strMasked;
    for (const char16_t c : std::u16string_view(kSecret))
        strMasked += static_cast<char>(static_cast<unsigned char>(c) ^ kMask);
    int fds[2] = {-1, -1};
    ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
    const CFileHandle readEnd(fds[0]);
    const CFileHandle writeEnd(fds[1]);
    std::atomic<bool> bWaiting{false};
    m_dlg.SetPasswordTrial([&](const std::string&, std::string_view, IMessageSink&, const StopAskedFn&) {
        bWaiting = true;
        char cByte = 0;
        ReadFully(readEnd.Get(), &cByte, 1);
        return SDecryptOutcome{};
    });
    Browse({MakeInput("b.bin")});
    Edit("m_editPassword").setFocus();
    QTest::keyClicks(&Edit("m_editPassword"), QString::fromUtf16(kSecret));
    Edit("m_editPrefix").setFocus();

    QSignalSpy finished(&m_dlg, &CDecryptDlg::BatchFinished);
    QTest::mouseClick(&Button("m_btnDecrypt"), Qt::LeftButton);
    EXPECT_TRUE(QTest::qWaitFor([&] { return bWaiting.load(); }, kTimeoutMs));
    EXPECT_FALSE(test::WritableMemoryHolds(strMasked, kMask, false));
    // The buffer does hold it: the search finds what is there. Only root's buffer is locked for sure.
    if (::geteuid() == 0) {
        EXPECT_TRUE(test::WritableMemoryHolds(strMasked, kMask, true));
    }
    testing::internal::CaptureStdout(); // the batch's trace lines
    ASSERT_EQ(::write(writeEnd.Get(), "x", 1), 1);
    EXPECT_TRUE(finished.count() == 1 || finished.wait(kTimeoutMs));
    testing::internal::GetCapturedStdout();
    EXPECT_TRUE(fs::exists(m_dir / "e_b.bin"));
    EXPECT_FALSE(test::WritableMemoryHolds(strMasked, kMask, true));
}

// The progress display names the file as it is spelled, never as markup; a screen reader names its bar.
TEST(BatchProgressDlg, CBatchProgressDlg_NameIsPlainTextBarIsNamed)
{
    CBatchProgressDlg progress(nullptr);
    progress.SetFile(0, 2, QStringLiteral("/tmp/<b>x<i> [1]"));
    EXPECT_EQ(progress.findChild<QLabel*>()->textFormat(), Qt::PlainText);
    EXPECT_EQ(progress.LabelText(), QStringLiteral("Datei 1 von 2\n<b>x<i> [1]"));
    QAccessibleInterface* pBar = QAccessible::queryAccessibleInterface(progress.findChild<QProgressBar*>());
    ASSERT_NE(pBar, nullptr);
    EXPECT_EQ(pBar->text(QAccessible::Name), QStringLiteral("Fortschritt"));
}

} // namespace
} // namespace brasko

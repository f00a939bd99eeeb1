#include "app/DecryptApp.h"

#include "UiTestSupport.h"
#include "app/HelpDlg.h"

#include <QDateTime>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace brasko {
namespace {

using test::Child;

int VisibleHelpDialogs()
{
    int nCount = 0;
    for (const QWidget* pWidget : QApplication::topLevelWidgets())
        nCount += (qobject_cast<const CHelpDlg*>(pWidget) != nullptr && pWidget->isVisible()) ? 1 : 0;
    return nCount;
}

TEST(DecryptApp, CDecryptApp_NameIconAndGermanStandardTexts)
{
    // Whatever the process's locale was: numbers, sizes and dates come out German.
    QLocale::setDefault(QLocale::c());
    const CDecryptApp app;
    EXPECT_EQ(QApplication::applicationName(), QStringLiteral("Brasko Decryption Tool"));
    EXPECT_FALSE(QApplication::windowIcon().isNull());
    EXPECT_EQ(QGuiApplication::desktopFileName(), QStringLiteral("org.brasko.DecryptionTool"));
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("Abbrechen"));
    EXPECT_EQ(QLocale().toString(1234.5), QStringLiteral("1.234,5"));
    EXPECT_EQ(QLocale().formattedDataSize(1536), QStringLiteral("1,50 KiB"));
    EXPECT_EQ(QLocale().toString(QDateTime(QDate(2021, 3, 5), QTime(14, 7)), QLocale::ShortFormat),
              QStringLiteral("05.03.21 14:07"));
}

// F1 in the main dialog, and its hidden help button, show the help modally over it; F1 inside the help
// changes nothing; Enter and Escape end the help.
TEST(DecryptApp, CDecryptApp_HelpDialogModalOverMainDialog)
{
    CDecryptApp app;
    CDecryptDlg& dlg = app.MainWindow();
    dlg.show();
    auto& browse = Child<QPushButton>(dlg, "m_btnBrowse");
    const std::pair<std::function<void()>, Qt::Key> runs[] = {
        {[&] { QTest::keyClick(&browse, Qt::Key_F1); }, Qt::Key_Return},
        {[&] { Child<QPushButton>(dlg, "m_btnHelp").click(); }, Qt::Key_Escape},
    };
    for (const auto& [ask, closeKey] : runs) {
        bool bSeen = false;
        test::WhenModal<CHelpDlg>([&, closeKey = closeKey](CHelpDlg& help) {
            bSeen = true;
            EXPECT_EQ(help.windowTitle(), QStringLiteral("Hilfe "));
            EXPECT_EQ(Child<QLabel>(help, "m_txtPlaceholder").text(),
                      QString::fromUtf8("Das ist den Platzhalter für die Hilfe"));
            auto& ok = Child<QPushButton>(help, "m_btnOK");
            EXPECT_EQ(ok.text(), QStringLiteral("OK"));
            EXPECT_TRUE(ok.isDefault());
            EXPECT_TRUE(help.isModal());
            EXPECT_EQ(help.parentWidget(), &dlg);
            EXPECT_EQ(help.minimumSize(), help.maximumSize());

            QTest::keyClick(&ok, Qt::Key_F1);
            QTest::keyClick(&help, Qt::Key_F1);
            QApplication::processEvents();
            EXPECT_EQ(VisibleHelpDialogs(), 1);
            EXPECT_EQ(QApplication::activeModalWidget(), &help);
            QTest::keyClick(&ok, closeKey);
        });
        ask();
        EXPECT_TRUE(bSeen);
        EXPECT_EQ(VisibleHelpDialogs(), 0);
        EXPECT_TRUE(dlg.isVisible());
    }
}

TEST(DecryptApp, CDecryptApp_InitInstanceEndsWhenMainDialogCloses)
{
    CDecryptApp app;
    bool bSeen = false;
    test::WhenModal<CDecryptDlg>([&](CDecryptDlg& dlg) {
        bSeen = true;
        EXPECT_EQ(&dlg, &app.MainWindow());
        EXPECT_EQ(dlg.windowTitle(), test::MainDialogTitle());
        QTest::keyClick(&dlg, Qt::Key_Escape);
    });
    EXPECT_FALSE(app.InitInstance());
    EXPECT_TRUE(bSeen);
    EXPECT_FALSE(app.MainWindow().isVisible());
}

} // namespace
} // namespace brasko

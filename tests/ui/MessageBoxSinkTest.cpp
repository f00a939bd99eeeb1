#include "ui/MessageBoxSink.h"

#include "Messages.h"
#include "UiTestSupport.h"

#include <QMessageBox>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace brasko {
namespace {

TEST(MessageBoxSink, CMessageBoxSink_CaptionIconTextAndOkButton)
{
    QWidget window;
    window.show();
    CMessageBoxSink sink;
    sink.SetParentWidget(&window);
    const struct
    {
        std::string strText;
        EMessageIcon icon;
        QMessageBox::Icon shown;
    } cases[] = {
        {messages::kTemplateEmpty, EMessageIcon::Stop, QMessageBox::Critical},
        // A message without an icon of its own shows the exclamation mark.
        {messages::FileNotFound("/tmp/ä b.enc"), EMessageIcon::Default, QMessageBox::Warning},
    };
    for (const auto& c : cases) {
        bool bSeen = false;
        test::WhenModal<QMessageBox>([&](QMessageBox& box) {
            bSeen = true;
            EXPECT_EQ(box.windowTitle(), QStringLiteral("Brasko Decryption Tool"));
            EXPECT_EQ(box.text(), QString::fromStdString(c.strText));
            EXPECT_EQ(box.icon(), c.shown);
            EXPECT_EQ(box.standardButtons(), QMessageBox::Ok);
            EXPECT_EQ(box.parentWidget(), &window);
            box.button(QMessageBox::Ok)->click();
        });
        sink.ShowMessage(c.strText, c.icon);
        EXPECT_TRUE(bSeen);
    }
}

TEST(MessageBoxSink, CMessageBoxSink_QuestionWarnsAndDefaultsToNein)
{
    QWidget window;
    window.show();
    CMessageBoxSink sink;
    sink.SetParentWidget(&window);
    const std::string strText = messages::PasswordLooksWrong("/tmp/ä b.enc");
    for (const bool bYes : {true, false}) {
        test::WhenModal<QMessageBox>([&](QMessageBox& box) {
            EXPECT_EQ(box.windowTitle(), QStringLiteral("Brasko Decryption Tool"));
            EXPECT_EQ(box.text(), QString::fromStdString(strText));
            EXPECT_EQ(box.icon(), QMessageBox::Warning);
            EXPECT_EQ(box.standardButtons(), QMessageBox::Yes | QMessageBox::No);
            EXPECT_EQ(box.button(QMessageBox::Yes)->text(), QStringLiteral("Ja"));
            EXPECT_EQ(box.button(QMessageBox::No)->text(), QStringLiteral("Nein"));
            EXPECT_EQ(box.defaultButton(), box.button(QMessageBox::No));
            box.button(bYes ? QMessageBox::Yes : QMessageBox::No)->click();
        });
        EXPECT_EQ(sink.AskYesNo(strText), bYes);
    }
    // Escape answers Nein.
    test::WhenModal<QMessageBox>([](QMessageBox& box) { QTest::keyClick(&box, Qt::Key_Escape); });
    EXPECT_FALSE(sink.AskYesNo(strText));
}

// A name holding markup, line breaks and brackets is shown as it is spelled, in messages and questions alike.
TEST(MessageBoxSink, CMessageBoxSink_NamesArePlainText)
{
    QWidget window;
    window.show();
    CMessageBoxSink sink;
    sink.SetParentWidget(&window);
    const std::string strPath = "/tmp/<b>x</b><img src=y>\n[1] <font color=green>Alles in Ordnung</font>";
    for (const std::string& strText :
         {messages::FileNotFound(strPath), messages::PasswordLooksWrong(strPath)}) {
        for (const bool bQuestion : {false, true}) {
            bool bSeen = false;
            test::WhenModal<QMessageBox>([&](QMessageBox& box) {
                bSeen = true;
                EXPECT_EQ(box.textFormat(), Qt::PlainText);
                EXPECT_EQ(box.text(), QString::fromStdString(strText));
                box.button(bQuestion ? QMessageBox::No : QMessageBox::Ok)->click();
            });
            if (bQuestion)
                sink.AskYesNo(strText);
            else
                sink.ShowMessage(strText, EMessageIcon::Stop);
            EXPECT_TRUE(bSeen);
        }
    }
}

} // namespace
} // namespace brasko

#include "DecryptApp.h"

#include "ApplicationIcon.h"
#include "HelpDlg.h"
#include "Messages.h"
#include "TextConversion.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>

namespace brasko {

CDecryptApp::CDecryptApp()
{
    // Only the name: a display name would be appended to every window title.
    QApplication::setApplicationName(text::FromCore(messages::kApplicationName));
    QApplication::setWindowIcon(ApplicationIcon());
    // Desktops find the entry, and with it the icon, by this id.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.brasko.DecryptionTool"));
    // German numbers, sizes and dates whatever LANG says, as in the program's texts.
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    // The program speaks German, so the file dialog and the standard buttons do too.
    if (m_translator.load(QLocale(QLocale::German), QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&m_translator);

    m_pMainWnd = std::make_unique<CDecryptDlg>(m_fileChooser, m_messages);
    m_messages.SetParentWidget(m_pMainWnd.get());
    connect(m_pMainWnd.get(), &CDecryptDlg::HelpRequested, this, &CDecryptApp::WinHelp);
}

CDecryptApp::~CDecryptApp()
{
    m_pMainWnd.reset();
    QApplication::removeTranslator(&m_translator);
}

bool CDecryptApp::InitInstance()
{
    m_pMainWnd->exec();
    return false;
}

void CDecryptApp::WinHelp()
{
    CHelpDlg dialog(m_pMainWnd.get());
    dialog.exec();
}

} // namespace brasko

#pragma once

#include "DecryptDlg.h"
#include "FECFileDialog.h"
#include "MessageBoxSink.h"

#include <QObject>
#include <QTranslator>

#include <memory>

namespace brasko {

// The application: its name (the caption of every message box), its icon, Qt's own texts in German, and
// the main dialog, which is the whole of its user interface. Help requests end in WinHelp.
class CDecryptApp : public QObject
{
    Q_OBJECT

public:
    // Needs the QApplication to exist. Builds the main dialog without showing it.
    CDecryptApp();
    ~CDecryptApp() override;
    Q_DISABLE_COPY_MOVE(CDecryptApp)

    // Runs the main dialog modally. False: the program ends once the dialog has closed.
    bool InitInstance();
    // Shows the help dialog modally over the main dialog.
    void WinHelp();

    CDecryptDlg& MainWindow() { return *m_pMainWnd; }

private:
    QTranslator m_translator;
    CFECFileChooser m_fileChooser;
    CMessageBoxSink m_messages;
    std::unique_ptr<CDecryptDlg> m_pMainWnd;
};

} // namespace brasko

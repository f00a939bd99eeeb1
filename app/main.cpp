#include "DecryptApp.h"
#include "ProcessHardening.h"
#include "ProgramArguments.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    brasko::HardenProcess();
    // Files and folders given to the program (a file manager's "open with") fill the list. QApplication
    // sees only the program's name: it would take its own options, plugin paths among them, out of the
    // file names otherwise.
    const QStringList paths = brasko::FileArguments(argc, argv);
    static char szName[] = "brasko-decrypt";
    int nQtArgc = 1;
    char* qtArgv[] = {argc > 0 && argv[0] != nullptr ? argv[0] : szName, nullptr};
    QApplication application(nQtArgc, qtArgv);
    brasko::CDecryptApp theApp;
    theApp.MainWindow().AddPaths(paths);
    theApp.InitInstance();
    return 0;
}

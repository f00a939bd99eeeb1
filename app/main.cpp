#include "DecryptApp.h"
#include "ProcessHardening.h"
#include "TextConversion.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    brasko::HardenProcess();
    QApplication application(argc, argv);
    brasko::CDecryptApp theApp;
    // Files and folders given to the program (a file manager's "open with") fill the list. QApplication
    // has taken its own options out of argv by now.
    QStringList paths;
    for (int i = 1; i < argc; ++i)
        paths.append(brasko::text::PathFromCore(argv[i]));
    theApp.MainWindow().AddPaths(paths);
    theApp.InitInstance();
    return 0;
}

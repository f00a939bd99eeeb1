#include "app/DecryptApp.h"
#include "core/ProcessHardening.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    brasko::HardenProcess();
    QApplication application(argc, argv);
    brasko::CDecryptApp theApp;
    theApp.InitInstance();
    return 0;
}

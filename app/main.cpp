#include "app/DecryptApp.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    brasko::CDecryptApp theApp;
    theApp.InitInstance();
    return 0;
}

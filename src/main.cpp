#include "app/MainWindow.h"
#include "app/QtSingleApplication.h"

int main(int argc, char** argv)
{
    QtSingleApplication* lp_application =
        new QtSingleApplication(QStringLiteral("KestruneQt"), argc, argv);
    if (lp_application->isRunning())
    {
        delete lp_application;
        return 0;
    }
    int l_result = 0;
    {
        MainWindow l_window;
        l_window.show();
        l_window.Init();
        l_result = lp_application->exec();
    }
    delete lp_application;
    return l_result;
}

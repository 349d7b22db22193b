#include "app/MainWindow.h"
#include "app/QtSingleApplication.h"

int main(int argc, char** argv)
{
    QtSingleApplication* lp_application =
        new QtSingleApplication(QStringLiteral("KestruneQt"), argc, argv);
    if (lp_application->isRunning())
    {
        // Another client on this host: nothing to do. One on another host cannot be
        // checked from here, and a blocked lock path needs the user: both are failures.
        int const l_code = lp_application->isRefused() ? 1 : 0;
        delete lp_application;
        return l_code;
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

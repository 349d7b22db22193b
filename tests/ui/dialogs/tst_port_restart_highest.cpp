// The highest port is a valid choice: after the restart it is listened on and mapped,
// while the port after it, which is no TCP port, is announced as before but neither
// listened on nor mapped, and the client runs on.

#include "PortRestartEnv.h"

class TestPortRestartHighest : public QObject
{
    Q_OBJECT

private slots:
    void highestPortAfterRestart() { PortRestartEnv::ChooseAndRestart(65535); }
};

QTEST_MAIN(TestPortRestartHighest)
#include "tst_port_restart_highest.moc"

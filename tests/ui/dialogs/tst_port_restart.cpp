// A new listening port takes effect at the next start: listened on with the next port,
// announced to the server and mapped at the gateway.

#include "PortRestartEnv.h"

class TestPortRestart : public QObject
{
    Q_OBJECT

private slots:
    void newPortAfterRestart() { PortRestartEnv::ChooseAndRestart(4000); }
};

QTEST_MAIN(TestPortRestart)
#include "tst_port_restart.moc"

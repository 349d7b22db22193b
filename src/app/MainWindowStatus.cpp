#include "app/MainWindow.h"

#include "net/server/Server.h"
#include "store/Settings.h"
#include "ui/dialogs/NewVersionDialog.h"
#include "ui/users/SharedFilesRescannedDialog.h"
#include "ui_MainWindow.h"
#include "widgets/PlainMessageBox.h"
#include "widgets/UIFunctions.h"

#include <QApplication>
#include <QIcon>

namespace
{
QString const c_onlineIcon = QStringLiteral(":/icons/online_icon");
QString const c_offlineIcon = QStringLiteral(":/icons/offline_icon");
} // namespace

void MainWindow::OnConnecting()
{
    ui->connectButton->setEnabled(false);
    ui->connectButton->setText(tr("Connecting..."));
}

void MainWindow::OnConnected()
{
    ui->connectButton->setEnabled(true);
    ui->connectButton->setText(tr("Disconnect"));
    SetApplicationIcon(c_onlineIcon);
    mp_server->GetOwnPrivilegesStatus();
    SetSetting("enable_private_room_add", QStringLiteral("no"));
}

void MainWindow::OnDisconnected()
{
    ui->connectButton->setEnabled(true);
    ui->connectButton->setText(tr("Connect"));
    SetApplicationIcon(c_offlineIcon);
}

void MainWindow::OnConnectionFailed(QString i_reason)
{
    // A refused login is followed by no Disconnected(): the icon goes back here.
    ResetApplicationIcon();
    ui->connectButton->setEnabled(true);
    ui->connectButton->setText(tr("Connect"));

    // Chosen now, while the connection's state is the one of this failure.
    QString l_title;
    QString l_text;
    if (i_reason == QLatin1String("INVALIDPASS"))
    {
        l_title = tr("Login Failure: Wrong Password");
        l_text = tr("Login failed. The password you supplied does not match your username. "
                    "Please change your login settings in the Options tab and try reconnecting.");
    }
    else if (i_reason == QLatin1String("INVALIDUSERNAME"))
    {
        l_title = tr("Login Failure: Username is Invalid");
        l_text = tr("Login failed. The username you supplied is invalid. Please change your "
                    "login settings in the Options tab and try reconnecting.");
    }
    else if (!mp_server->IsAbruptlyDisconnected())
    {
        l_title = tr("Login Failure");
        l_text = tr("Login failed. Reported failure reason: %1. Please change your login "
                    "settings in the Options tab and try reconnecting.")
                     .arg(i_reason);
    }
    if (l_title.isEmpty())
        return;
    // Shown from the event loop: a modal loop inside the server's handling of the reply
    // would run the socket's close there and report it as a second failure.
    QMetaObject::invokeMethod(
        this,
        [this, l_title, l_text]
        {
            if (!g_showIsOver)
                ShowPlainInformation(this, l_title, l_text);
        },
        Qt::QueuedConnection);
}

void MainWindow::OnConnectClicked()
{
    if (mp_server->IsConnected())
    {
        mp_server->Disconnect();
        return;
    }
    // Without a user name there is nothing to log in with: ask for one as the first
    // start does. Cancelled, it leaves the client unconnected as before.
    AskForUsername();
    mp_server->Connect();
}

void MainWindow::OnDisconnectClicked()
{
    mp_server->Disconnect();
}

void MainWindow::SetApplicationIcon(QString i_icon)
{
    QIcon const l_icon(i_icon);
    QApplication::setWindowIcon(l_icon);
    setWindowIcon(l_icon);
    if (QSystemTrayIcon::isSystemTrayAvailable())
        m_trayIcon.setIcon(l_icon);
}

void MainWindow::ResetApplicationIcon()
{
    SetApplicationIcon(gp_server && gp_server->IsConnected() ? c_onlineIcon : c_offlineIcon);
}

void MainWindow::PopupAlert(QString i_text)
{
    if (QSystemTrayIcon::isSystemTrayAvailable())
        m_trayIcon.showMessage(QString(), i_text, QSystemTrayIcon::Information, 10000);
}

bool MainWindow::IsApplicationActive() const
{
    return isActiveWindow();
}

void MainWindow::OnTrayIconActivated(QSystemTrayIcon::ActivationReason i_reason)
{
    if (i_reason != QSystemTrayIcon::Trigger)
        return;
    showNormal();
    activateWindow();
}

void MainWindow::OnSharedFilesRescanned(int i_filesAdded, int i_filesRemoved)
{
    SharedFilesRescannedDialog* const lp_dialog = new SharedFilesRescannedDialog(this);
    lp_dialog->Append(tr("%1 files added.").arg(i_filesAdded));
    lp_dialog->Append(tr("%1 files removed.").arg(i_filesRemoved));
    lp_dialog->setWindowTitle(tr("Shared Files Rescanned"));
    lp_dialog->show();
}

void MainWindow::OnNewVersion(qint64 i_build, QString i_link, QStringList i_description)
{
    NewVersionDialog* const lp_dialog = new NewVersionDialog(i_build, i_link, i_description, this);
    lp_dialog->setWindowFlags(lp_dialog->windowFlags() | Qt::WindowStaysOnTopHint);
    lp_dialog->show();
}

void MainWindow::OnRoomListItemSelectionChanged()
{
}

void MainWindow::OnFocusChanged(QWidget* /*ip_old*/, QWidget* /*ip_now*/)
{
}

void MainWindow::EveryHalfMinute()
{
}

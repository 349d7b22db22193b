#include "app/MainWindow.h"

#include "app/Ui_MainWindow.h"
#include "store/Settings.h"

// The read-only fields of the Login page follow the settings that dialogs change.

void MainWindow::OnUsernameChanged(ItemPtr /*i_setting*/)
{
    ui->usernameEdit->setText(GetSetting("username"));
}

void MainWindow::OnNewListeningPortChanged(ItemPtr /*i_setting*/)
{
    int const l_port = GetSettingInt("new_listening_port");
    ui->listeningPortEdit->setText(QString::number(l_port));
    ShowObfuscatedPort(l_port + 1);
}

void MainWindow::OnObfuscatedPortSet(ItemPtr /*i_setting*/)
{
    ShowObfuscatedPort(GetSettingInt("obfuscated_listening_port"));
}

void MainWindow::ShowObfuscatedPort(int i_port)
{
    ui->obfuscatedPortLabel->setText(
        tr("Obfuscated port is %1, if you're manually forwarding your ports be sure to open it "
           "as well.")
            .arg(i_port));
}

// The controls of the options pages write nothing yet: their settings keep the values
// that start-up shows.

void MainWindow::OnUPnPCheckboxToggled(bool /*i_checked*/)
{
}

void MainWindow::OnMinimizeToTrayCheckboxToggled(bool /*i_checked*/)
{
}

void MainWindow::OnExpandNewSharesCheckboxToggled(bool /*i_checked*/)
{
}

void MainWindow::OnChatTimestampsBoxIndexChanged(int /*i_index*/)
{
}

void MainWindow::OnSelectColors()
{
}

void MainWindow::OnLogRoomChatCheckBoxClicked(bool /*i_checked*/)
{
}

void MainWindow::OnLogPrivateChatCheckBoxClicked(bool /*i_checked*/)
{
}

void MainWindow::OnEmptyShareWarningMessageCheckBoxClicked(bool /*i_checked*/)
{
}

void MainWindow::OnEmptyShareWarningEditEdited(QString /*i_text*/)
{
}

void MainWindow::OnSaveEmptyShareWarningMessageButtonClicked()
{
}

void MainWindow::OnAcceptUserlistUploadsCheckboxToggled(bool /*i_checked*/)
{
}

void MainWindow::OnMaxUploadsPerUserSpinBoxValueChanged(int /*i_value*/)
{
}

void MainWindow::OnCodePageSelected(int /*i_index*/)
{
}

void MainWindow::OnOptionsTabSelectionChanged(int /*i_index*/)
{
}

void MainWindow::OnChangeUsernamePasswordClicked()
{
}

#include "app/MainWindow.h"

#include "net/server/PortForwarder.h"
#include "store/ExtendedAsciiTranslator.h"
#include "store/Settings.h"
#include "ui/dialogs/ChangeUsernamePasswordDialog.h"
#include "ui/dialogs/ColorSelectionDialog.h"
#include "ui_MainWindow.h"
#include "widgets/TabWidget.h"

namespace
{
// The chat timestamp choices by index of the box; any other index means the last.
char const* const c_chatTimestamps[] = {"activity_based", "per_message_short",
                                        "per_message_long", "no_timestamps"};
} // namespace

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

// Every control writes its setting at once; there is no Apply step.

void MainWindow::OnUPnPCheckboxToggled(bool i_checked)
{
    SetSettingYesNo("use_upnp", i_checked);
    // Turning it off keeps the mappings made so far; they lapse on the gateway's side.
    if (i_checked && portForwarder)
        portForwarder->Init();
}

void MainWindow::OnMinimizeToTrayCheckboxToggled(bool i_checked)
{
    SetSettingYesNo("minimize_to_tray", i_checked);
    m_trayIcon.setVisible(i_checked);
}

void MainWindow::OnExpandNewSharesCheckboxToggled(bool i_checked)
{
    SetSettingYesNo("expand_new_shares", i_checked);
}

void MainWindow::OnChatTimestampsBoxIndexChanged(int i_index)
{
    int const l_last = int(std::size(c_chatTimestamps)) - 1;
    int const l_choice = i_index >= 0 && i_index < l_last ? i_index : l_last;
    SetSetting("chat_timestamps", QString::fromLatin1(c_chatTimestamps[l_choice]));
}

void MainWindow::OnSelectColors()
{
    (new ColorSelectionDialog(this))->show();
}

void MainWindow::OnLogRoomChatCheckBoxClicked(bool i_checked)
{
    SetSettingYesNo("log_room_chat", i_checked);
}

void MainWindow::OnLogPrivateChatCheckBoxClicked(bool i_checked)
{
    SetSettingYesNo("log_private_chat", i_checked);
}

void MainWindow::OnEmptyShareWarningMessageCheckBoxClicked(bool i_checked)
{
    SetSettingYesNo("check_for_empty_shares", i_checked);
}

void MainWindow::OnEmptyShareWarningEditEdited(QString i_text)
{
    ui->saveEmptyShareWarningMessageButton->setEnabled(!i_text.trimmed().isEmpty());
}

void MainWindow::OnSaveEmptyShareWarningMessageButtonClicked()
{
    // Stored as typed, blanks included; the message ends at a NUL character.
    QString l_text = ui->emptyShareWarningEdit->text();
    qsizetype const l_nul = l_text.indexOf(QChar(0));
    if (l_nul >= 0)
        l_text.truncate(l_nul);
    SetSetting("empty_share_message", l_text);
    ui->emptyShareWarningEdit->setCursorPosition(0);
    ui->saveEmptyShareWarningMessageButton->setEnabled(false);
}

void MainWindow::OnAcceptUserlistUploadsCheckboxToggled(bool i_checked)
{
    SetSettingYesNo("accept_userlist_uploads", i_checked);
}

void MainWindow::OnMaxUploadsPerUserSpinBoxValueChanged(int i_value)
{
    SetSetting("max_queued_uploads_per_user", QString::number(i_value));
}

void MainWindow::OnCodePageSelected(int i_index)
{
    if (!extendedAsciiTranslator)
        return;
    // Entry 0 is "[None]": no code page, so text that is not UTF-8 reads as Latin-1.
    std::string const l_name =
        i_index <= 0 ? std::string() : ui->codePageBox->itemText(i_index).toLatin1().toStdString();
    extendedAsciiTranslator->SetCodePage(l_name);
}

void MainWindow::OnOptionsTabSelectionChanged(int i_index)
{
    // The list takes the focus so that the toolbar shows the shared-folder commands.
    if (i_index >= 0 && ui->optionsTabControl->tabText(i_index) == QLatin1String("File Sharing"))
        ui->sharedFoldersList->setFocus(Qt::OtherFocusReason);
}

void MainWindow::OnChangeUsernamePasswordClicked()
{
    (new ChangeUsernamePasswordDialog(false, this))->show();
}

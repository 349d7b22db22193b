#include "ui/dialogs/ChangeUsernamePasswordDialog.h"

#include "store/Settings.h"
#include "ui_ChangeUsernamePasswordDialog.h"

ChangeUsernamePasswordDialog::ChangeUsernamePasswordDialog(bool i_firstStart, QWidget* ip_parent)
    : QDialog(ip_parent), ui(new Ui_ChangeUsernamePasswordDialog), m_isFirstStart(i_firstStart)
{
    ui->setupUi(this);
    connect(ui->buttonBox, &QDialogButtonBox::accepted, this, &ChangeUsernamePasswordDialog::accept);
    connect(ui->buttonBox, &QDialogButtonBox::rejected, this, &ChangeUsernamePasswordDialog::reject);
    ui->usernameEdit->setText(GetSetting("username"));
    // The stored password is never shown, not even masked: an empty field keeps it.
    ui->passwordEdit->setEchoMode(QLineEdit::Password);
    if (m_isFirstStart)
        setWindowTitle(QStringLiteral("Set Username/Password"));
    activateWindow();
}

ChangeUsernamePasswordDialog::~ChangeUsernamePasswordDialog()
{
    delete ui;
}

void ChangeUsernamePasswordDialog::accept()
{
    QString const l_username = ui->usernameEdit->text().trimmed();
    QString const l_typed = ui->passwordEdit->text();
    QString const l_password = l_typed.isEmpty() ? GetSetting("password") : l_typed.trimmed();
    if (l_username.isEmpty() || l_password.isEmpty())
        return;
    QDialog::accept();
    SetSetting("username", l_username);
    SetSetting("password", l_password);
    if (!m_isFirstStart)
        deleteLater();
}

void ChangeUsernamePasswordDialog::reject()
{
    QDialog::reject();
    if (!m_isFirstStart)
        deleteLater();
}

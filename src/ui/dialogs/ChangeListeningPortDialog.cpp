#include "ui/dialogs/ChangeListeningPortDialog.h"

#include "store/Settings.h"
#include "ui_ChangeListeningPortDialog.h"

#include <QFontMetrics>
#include <QMessageBox>
#include <QStyle>
#include <QVBoxLayout>

ChangeListeningPortDialog::ChangeListeningPortDialog(QWidget* ip_parent)
    : QDialog(ip_parent), ui(new Ui_ChangeListeningPortDialog)
{
    ui->setupUi(this);
    // The design width cuts the title short in a window frame. Leave room for the title
    // (frames draw it bold) beside the frame's buttons, and let the field follow.
    QVBoxLayout* const lp_layout = new QVBoxLayout(this);
    lp_layout->addWidget(ui->portEdit);
    lp_layout->addWidget(ui->buttonBox);
    QFont l_titleFont = font();
    l_titleFont.setBold(true);
    int const l_frameButtons = 5 * style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, this);
    resize(
        qMax(width(), QFontMetrics(l_titleFont).horizontalAdvance(windowTitle()) + l_frameButtons),
        height());
    connect(ui->buttonBox, &QDialogButtonBox::accepted, this, &ChangeListeningPortDialog::accept);
    connect(ui->buttonBox, &QDialogButtonBox::rejected, this, &ChangeListeningPortDialog::reject);
    // A first digit from 1 to 9, then up to four optional digits.
    ui->portEdit->setInputMask(QStringLiteral("D0000"));
    ui->portEdit->setMaxLength(5);
    ui->portEdit->setText(GetSetting("listening_port"));
}

ChangeListeningPortDialog::~ChangeListeningPortDialog()
{
    delete ui;
}

void ChangeListeningPortDialog::accept()
{
    int const l_port = ui->portEdit->text().toInt(nullptr, 10);
    if (l_port < 1 || l_port > 65535)
    {
        QMessageBox::information(this, QStringLiteral("Invalid Port Number"),
                                 QStringLiteral("Port number must be in the range of 1 to 65535."));
        return;
    }
    if (l_port == GetSettingInt("listening_port"))
    {
        QMessageBox::information(this, QStringLiteral("Port Number Not Changed"),
                                 QStringLiteral("Port number has not been changed."));
        return;
    }
    QDialog::accept();
    SetSetting("new_listening_port", QString::number(l_port));
    QMessageBox::information(
        this, QStringLiteral("Change to Listening Port Pending"),
        QStringLiteral("Changes to the listening port will take effect after a client restart."));
    deleteLater();
}

void ChangeListeningPortDialog::reject()
{
    QDialog::reject();
    deleteLater();
}

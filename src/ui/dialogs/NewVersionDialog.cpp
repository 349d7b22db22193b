#include "ui/dialogs/NewVersionDialog.h"

#include "store/Settings.h"
#include "ui/dialogs/PlainTextLines.h"
#include "ui_NewVersionDialog.h"
#include "widgets/ApplicationWindow.h"

#include <QDesktopServices>
#include <QUrl>

#include <algorithm>

NewVersionDialog::NewVersionDialog(long long i_version, QString i_downloadLink,
                                   QStringList i_description, QWidget* ip_parent)
    : QDialog(ip_parent), ui(new Ui_NewVersionDialog), m_version(i_version),
      m_downloadLink(std::move(i_downloadLink))
{
    ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("KestruneQt Update"));
    ui->currentVersionEdit->setText(BuildText(g_currentVersion));
    ui->newVersionEdit->setText(BuildText(m_version));
    // The fields are kept narrow, but never so narrow that a build date is cut off (a
    // two-digit month and day need more than 100 pixels in common fonts).
    for (QLineEdit* lp_edit : {ui->currentVersionEdit, ui->newVersionEdit})
    {
        int const l_needed = lp_edit->fontMetrics().horizontalAdvance(lp_edit->text()) + 16;
        if (l_needed > lp_edit->maximumWidth())
            lp_edit->setMaximumWidth(l_needed);
        lp_edit->setMinimumWidth(std::min(l_needed, lp_edit->maximumWidth()));
    }
    // Fetched from the web without authentication: shown as text, never as markup.
    for (QString const& l_line : i_description)
        AppendPlainLine(ui->descriptionEdit, l_line);
    connect(ui->skipButton, &QPushButton::clicked, this, &NewVersionDialog::OnSkipButtonClicked);
    connect(ui->downloadButton, &QPushButton::clicked, this,
            &NewVersionDialog::OnDownloadButtonClicked);
}

NewVersionDialog::~NewVersionDialog()
{
    delete ui;
}

QString NewVersionDialog::BuildText(long long i_version)
{
    return QStringLiteral("Build %1/%2/%3")
        .arg(i_version % 10000 / 100)
        .arg(i_version % 100)
        .arg(i_version / 10000);
}

void NewVersionDialog::OnDownloadButtonClicked()
{
    // The address comes from a file fetched without authentication: only a web page may
    // be opened from it, never a local file or another program's scheme.
    QUrl const l_url(m_downloadLink);
    QString const l_scheme = l_url.scheme().toLower();
    if (l_url.isValid() && (l_scheme == QLatin1String("http") || l_scheme == QLatin1String("https")))
        QDesktopServices::openUrl(l_url);
}

void NewVersionDialog::OnSkipButtonClicked()
{
    SetSetting("skip_version", QString::number(m_version));
    close();
}

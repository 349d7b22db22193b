#pragma once

// The offer of a newer build: the running and the offered build as "Build M/D/YYYY", the
// description lines (rich text that loads no outside resource), "Download", which opens
// the download address when it is an http or https address, and "Skip this version",
// which stores the build in `skip_version` and closes. Deletes itself when closed.

#include <QDialog>
#include <QString>
#include <QStringList>

class Ui_NewVersionDialog;

class NewVersionDialog : public QDialog
{
    Q_OBJECT

public:
    NewVersionDialog(long long i_version, QString i_downloadLink, QStringList i_description,
                     QWidget* ip_parent = nullptr);
    ~NewVersionDialog() override;

    // "Build %1/%2/%3": month, day and year of a YYYYMMDD build, without leading zeros.
    static QString BuildText(long long i_version);

    Ui_NewVersionDialog* Form() const { return ui; }

public slots:
    void OnDownloadButtonClicked();
    void OnSkipButtonClicked();

private:
    Ui_NewVersionDialog* ui;
    long long m_version;
    QString m_downloadLink;
};

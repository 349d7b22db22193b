#pragma once

// The "Browse" page of the main window: one tab per user whose shared files are browsed.
// Interim: a tab only shows that the user's share list was asked for. One instance,
// reached through sharesForm.

#include <QString>
#include <QTabWidget>
#include <QWidget>

class ShareForm;

class SharesForm : public QWidget
{
    Q_OBJECT

public:
    explicit SharesForm(QWidget* ip_parent = nullptr);
    ~SharesForm() override;

    // Called once by start-up; nothing to set up yet.
    void Init();
    // The user's tab, brought forward; made, with a request for the user's share list,
    // when the user has none yet.
    ShareForm* OpenShareBrowse(QString i_user);

    QTabWidget* Tabs() const { return mp_tabs; }

public slots:
    void OnTabCloseRequested(int i_index);

private:
    QTabWidget* mp_tabs;
};

extern SharesForm* sharesForm;

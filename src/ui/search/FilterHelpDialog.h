#pragma once

// The window that explains the filter language. At most one exists at a time: every
// filter-help button shows the one that filterHelpDialog names, making it first when
// there is none. It deletes itself when closed.

#include <QDialog>

class QHBoxLayout;
class QPushButton;
class QSpacerItem;
class QTextEdit;
class QVBoxLayout;

class FilterHelpDialog : public QDialog
{
    Q_OBJECT

public:
    // Sets filterHelpDialog; the destructor clears it.
    explicit FilterHelpDialog(QWidget* ip_parent = nullptr);
    ~FilterHelpDialog() override;

    // What every filter-help button does: the one dialog, made with the form as parent
    // when there is none, shown without blocking the form.
    static void Open(QWidget* ip_form);

    QTextEdit* textEdit;
    QPushButton* pushButton;

private:
    void RetranslateUi();

    QHBoxLayout* horizontalLayout_2;
    QVBoxLayout* verticalLayout;
    QHBoxLayout* horizontalLayout;
    QSpacerItem* horizontalSpacer;
    QSpacerItem* horizontalSpacer_2;
};

extern FilterHelpDialog* filterHelpDialog;

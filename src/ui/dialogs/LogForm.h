#pragma once

// A form holding one text browser. The diagnostics page shows its log areas in bare text
// browsers, so nothing creates this form; it is kept for views that want a log pane.

#include <QWidget>

class Ui_LogForm;

class LogForm : public QWidget
{
    Q_OBJECT

public:
    explicit LogForm(QWidget* ip_parent = nullptr);
    ~LogForm() override;

    Ui_LogForm* Form() const { return ui; }

private:
    Ui_LogForm* ui;
};

#include "ui/dialogs/LogForm.h"

#include "ui_LogForm.h"

LogForm::LogForm(QWidget* ip_parent) : QWidget(ip_parent), ui(new Ui_LogForm)
{
    ui->setupUi(this);
}

LogForm::~LogForm()
{
    delete ui;
}

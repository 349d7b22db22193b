#include "widgets/PlainMessageBox.h"

QMessageBox::StandardButton AskPlainQuestion(QString const& i_title, QString const& i_text)
{
    QMessageBox l_box(QMessageBox::Question, i_title, i_text, QMessageBox::Yes | QMessageBox::No);
    l_box.setTextFormat(Qt::PlainText);
    l_box.setDefaultButton(QMessageBox::No);
    return static_cast<QMessageBox::StandardButton>(l_box.exec());
}

void ShowPlainInformation(QWidget* ip_parent, QString const& i_title, QString const& i_text)
{
    QMessageBox l_box(QMessageBox::Information, i_title, i_text, QMessageBox::Ok, ip_parent);
    l_box.setTextFormat(Qt::PlainText);
    l_box.exec();
}

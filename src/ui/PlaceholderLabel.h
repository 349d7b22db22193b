#pragma once

// The text that stands in a page whose view is not built yet, so that the page tells the
// user so instead of showing an empty pane.

#include <QLabel>
#include <QString>

inline QLabel* PlaceholderLabel(QString const& i_text, QWidget* ip_parent)
{
    QLabel* const lp_label = new QLabel(i_text, ip_parent);
    lp_label->setAlignment(Qt::AlignCenter);
    lp_label->setWordWrap(true);
    lp_label->setEnabled(false);
    return lp_label;
}

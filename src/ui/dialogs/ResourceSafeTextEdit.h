#pragma once

// A rich-text view for text from outside the program (the version file comes over plain
// HTTP): images and other resources load only from the program's own resources, never
// from the disk or the network.

#include <QTextEdit>
#include <QVariant>

class ResourceSafeTextEdit : public QTextEdit
{
    Q_OBJECT

public:
    explicit ResourceSafeTextEdit(QWidget* ip_parent = nullptr) : QTextEdit(ip_parent) {}

    QVariant loadResource(int i_type, QUrl const& i_name) override;
};

#include "ui/dialogs/ResourceSafeTextEdit.h"

#include <QByteArray>
#include <QFile>
#include <QUrl>

QVariant ResourceSafeTextEdit::loadResource(int /*i_type*/, QUrl const& i_name)
{
    // An empty answer, never a null one: on a null answer the document would read a
    // local file itself.
    if (i_name.scheme().compare(QLatin1String("qrc"), Qt::CaseInsensitive) != 0)
        return QVariant(QByteArray());
    QFile l_resource(QLatin1Char(':') + i_name.path());
    if (!l_resource.open(QIODevice::ReadOnly))
        return QVariant(QByteArray());
    return QVariant(l_resource.readAll());
}

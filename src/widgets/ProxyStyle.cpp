#include "widgets/ProxyStyle.h"

#include <QStyleFactory>

ProxyStyle::ProxyStyle(QString const& i_styleName)
    : QProxyStyle(QStyleFactory::create(i_styleName))
{
}

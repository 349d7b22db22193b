#pragma once

#include <QProxyStyle>
#include <QString>

// A style that hands every operation to a named style of the platform (an unknown name
// falls back to the application's default style). The inner style is owned and deleted
// with this one.
class ProxyStyle : public QProxyStyle
{
    Q_OBJECT

public:
    explicit ProxyStyle(QString const& i_styleName);
};

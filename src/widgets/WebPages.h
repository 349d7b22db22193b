#pragma once

// Addresses of the pages on the network's web host that the client opens in the
// desktop's browser (privileges, port test) or fetches (the version file).

#include <QString>
#include <QUrl>

// The setting `web_host` when it holds a value, otherwise "www.kestrune.net". No default
// is written, so a stored host is only ever one the user chose.
QString WebHost();

// http://<web host><path>?<key>=<value>. The value is one query value whatever it
// holds: "&", "#", "=", "+", "%" and blanks are percent-encoded.
QUrl WebPageUrl(QString const& i_path, QString const& i_key, QString const& i_value);

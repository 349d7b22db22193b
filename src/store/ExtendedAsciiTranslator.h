#pragma once

#include <QString>
#include <string>

// Decodes bytes from the network or from item values: UTF-8 when they survive a
// UTF-8 round trip, otherwise the chosen code page (Latin-1 when none).
QString ToQString(std::string const& bytes);

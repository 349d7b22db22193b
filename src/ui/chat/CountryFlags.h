#pragma once

// The country flags of the member lists, from the packaged set the build puts under
// ":/resources/flags/<code>.png" (codes in lower case). Codes come from the server: one
// icon is kept per flag the resources hold and nothing for any other code, so the cache
// cannot outgrow the set however many codes arrive. GUI thread only.

#include <QIcon>
#include <QString>

class CountryFlags
{
public:
    // The flag of the code, in either case; a null icon when the resources hold none.
    static QIcon Icon(QString const& i_code);
    // How many flags are kept.
    static qsizetype CachedCount();
};

#pragma once

// Every line of the peer network goes to its one area, most of them with the user they
// concern so that the diagnostics form can show a user's lines together.

#include "store/Log.h"

inline void PeerLog(int i_level, QString const& i_text, ItemPtr i_user = ItemPtr())
{
    Log(LogArea::PeerMessenger, i_level, i_text, i_user);
}

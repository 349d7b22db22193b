#pragma once

// Every line of the distributed network goes to its own area.

#include "store/Log.h"

inline void DNetLog(int i_level, QString const& i_text, ItemPtr i_item = ItemPtr())
{
    Log(LogArea::DistributedNetwork, i_level, i_text, i_item);
}

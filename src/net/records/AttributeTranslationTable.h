#pragma once

// Attribute code to its name, as a share list or search reply may append it
// (u32 count, then per entry i32 code and a byte-string name).

#include <map>
#include <string>

using AttributeTranslationTable = std::map<int, std::string>;

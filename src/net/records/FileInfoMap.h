#pragma once

// A user's share as a share list carries it: folder (byte string with `\` separators)
// to the files directly in it, both in ascending order.

#include "net/records/FileInfo.h"

#include <map>
#include <set>
#include <string>

using FileInfoMap = std::map<std::string, std::set<FileInfo>>;

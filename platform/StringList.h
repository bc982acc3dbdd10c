// StringList.h: the ordered, indexable list of text lines the programs pass around.
#pragma once

#include <string>
#include <vector>

namespace velmoran {

// Whoever receives a list owns it.
using TStringList = std::vector<std::string>;

} // namespace velmoran

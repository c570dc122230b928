#include "Cable.h"

namespace velkor {

std::span<const Cable> KnownCables()
{
    // The build checked the text before embedding it.
    static const std::vector<Cable> cables = ParseCables(BuiltInCablesText());
    return cables;
}

const Cable& BuiltInCable()
{
    return KnownCables().front();
}

}  // namespace velkor

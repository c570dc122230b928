#include "BuiltInCatalogue.h"

namespace velkor {

const ChipCatalogue& BuiltInCatalogue()
{
    static const ChipCatalogue catalogue = ChipCatalogue::Parse(BuiltInChipsText(), ChipSource::Catalogue);
    return catalogue;
}

}  // namespace velkor

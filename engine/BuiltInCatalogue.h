#pragma once

#include <string_view>

#include "ChipCatalogue.h"

namespace velkor {

// The catalogue built into the programs (catalogue/chips.json, checked by the
// build), read once.
const ChipCatalogue& BuiltInCatalogue();

// Its text, as the build embedded it.
std::string_view BuiltInChipsText();

}  // namespace velkor

#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace velkor::fuzz {

// Runs the whole Write on a simulated chip and checks it against a small
// model of its own. The first byte picks a chip of the device table; the rest
// is the HEX file. Checked: the command succeeds exactly when the model finds
// nothing wrong, the flash then equals the model's image and otherwise what
// the model says a failed Write leaves; the log ends with "---done.---"
// exactly on success; the port rests at 0x84; no timing was breached.
// Returns what was violated, or nothing.
std::string CheckWrite(std::span<const std::uint8_t> input);

}  // namespace velkor::fuzz

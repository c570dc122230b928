#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace velkor {

// The SHA-256 digest of bytes as 64 lowercase hex digits: how a production
// record names the exact file each board got.
std::string Sha256Hex(std::span<const std::uint8_t> bytes);

}  // namespace velkor

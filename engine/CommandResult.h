#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace velkor {

// Why a command failed, as a fact rather than a log line.
enum class Fault {
    None,
    PortNotOpened,      // the driver could not open the port: nothing was sent
    InvalidValue,       // a typed value was refused before the port was opened
    FileNotFound,       // the HEX file is missing, or is a folder
    NoProgramEnable,    // the chip did not echo Programming Enable
    AddressOutOfRange,  // the file's data reaches past the memory
    ChipNotListed,      // a Write found a chip it does not know, and left it as it was
    Mismatch,           // a byte read otherwise than the file or the write gave
    Interrupted,        // stopped at a stop request
    Other,              // failed for a reason the log gives
};

// The first fault a command met, with where and what it concerns.
struct Failure {
    Fault fault = Fault::None;
    std::optional<std::size_t> line{};       // the HEX file's line (AddressOutOfRange)
    std::optional<std::uint32_t> address{};  // the byte's address (Mismatch)
    std::optional<std::uint8_t> expected{};  // the file's or the written value (Mismatch)
    std::optional<std::uint8_t> found{};     // the chip's value (Mismatch)
};

// Signature byte 0 and bytes 1 and 2, as a chip answered them.
struct ChipSignature {
    std::uint8_t maker = 0;
    std::uint16_t device = 0;
};

// How a command ended.
struct CommandResult {
    bool succeeded = false;
    Failure failure{};  // Fault::None when it succeeded
    // Each identification of the command that found no chip it knows, in order.
    std::vector<ChipSignature> unlisted{};

    explicit operator bool() const { return succeeded; }
};

}  // namespace velkor

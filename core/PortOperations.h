#pragma once

#include <cstdint>
#include <string>

namespace velkor {

// What the engine needs of a port component: open and close access, write a
// byte to an I/O address, read a byte from one. ActiveHW and OpenFailure tell
// a command whether the open worked and, if not, why, so that it never drives
// a port it could not open.
class PortOperations {
public:
    virtual ~PortOperations() = default;

    // portAddress is the base address the command is about to use. A component
    // that opens every port at once (the Windows driver) ignores it.
    virtual void OpenDriver(std::uint16_t portAddress) = 0;
    virtual void CloseDriver() = 0;
    virtual void WritePortUchar(std::uint16_t port, std::uint8_t value) = 0;
    virtual std::uint8_t ReadPortUchar(std::uint16_t port) = 0;

    virtual bool ActiveHW() const = 0;
    // Why the last OpenDriver left the port closed, in words a user can act
    // on; empty when it opened or no reason is known.
    virtual std::string OpenFailure() const = 0;
};

}  // namespace velkor

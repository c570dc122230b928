#pragma once

// The seam between the port component TDLPortIO and the ways it can reach a
// port: the DriverLINX library and its service on Windows, ppdev or raw port
// I/O on Linux. The component keeps the settings and the open/closed state;
// a driver does the platform work.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace velkor {

// The byte operations of an open port. The serial transfer calls them three
// times per bit, so an implementation does no lookup and no allocation.
class PortAccess {
public:
    virtual ~PortAccess() = default;
    virtual void Write(std::uint16_t port, std::uint8_t value) = 0;
    virtual std::uint8_t Read(std::uint16_t port) = 0;
};

// What a port operation does while the component is closed: nothing reaches
// any hardware. A read gives what a status register shows with nothing
// attached (BUSY reads 0), so a caller that reads anyway sees no chip.
class ClosedPort final : public PortAccess {
public:
    static constexpr std::uint8_t kReading = 0x78;
    void Write(std::uint16_t, std::uint8_t) override {}
    std::uint8_t Read(std::uint16_t) override { return kReading; }
};

// The component's settings and its record of the last failure, shared with
// its driver, which reads the folders at each open and writes the failure.
struct PortIOFields {
    std::string DriverPath;  // folder of the kernel driver file, no trailing separator
    std::string DLLPath;     // folder of the port library; empty: the system's search
    std::string LastError;   // text of the most recent failure; never cleared by a success
    bool HardAccess = true;  // kept for the stored settings; nothing consults it
    // N of a ppdev device /dev/parportN to open whatever the address; none:
    // the port is found by its address.
    std::optional<unsigned> PpdevDevice;
};

// What a driver's open gave: the operations to route port reads and writes
// through, or none and why.
struct PortOpening {
    PortAccess* access = nullptr;
    // Without access: the open's first failure in words a user can act on,
    // then any failure of undoing what it had done.
    std::string failure;
};

class PortDriver {
public:
    virtual ~PortDriver() = default;

    // Makes the port at portAddress reachable. A failing step also records
    // its text in LastError, as the step's own record.
    virtual PortOpening Open(std::uint16_t portAddress) = 0;
    // Gives the port back. False when it could not: the port stays open.
    virtual bool Close() = 0;
};

// Builds a driver over the component's fields; the driver may set their
// defaults (the Windows driver sets DriverPath).
using PortDriverFactory = std::function<std::unique_ptr<PortDriver>(PortIOFields&)>;

// The driver of the platform the program was built for.
std::unique_ptr<PortDriver> MakePlatformDriver(PortIOFields& fields);

}  // namespace velkor

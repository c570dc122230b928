#pragma once

// TDLPortIO: the port component through which every port read and write of
// the programmer passes. On Windows it loads the DriverLINX Port I/O library
// (installing and starting its kernel-driver service where the system needs
// it, and undoing exactly what it did); on Linux it reaches the port through
// ppdev, or through raw port I/O where no ppdev device has the address.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "PortDriver.h"
#include "PortOperations.h"

namespace velkor {

class TDLPortIO final : public PortOperations {
public:
    // Over the platform's own driver.
    TDLPortIO();
    // Over a driver of the caller's choice (the tests' scripted platform).
    explicit TDLPortIO(const PortDriverFactory& makeDriver);
    // Closes the driver first when it is open.
    ~TDLPortIO() override;

    TDLPortIO(const TDLPortIO&) = delete;
    TDLPortIO& operator=(const TDLPortIO&) = delete;

    // Does nothing while open. Otherwise ActiveHW tells whether it worked and
    // OpenFailure, when it did not, why.
    void OpenDriver(std::uint16_t portAddress) override;
    // Does nothing while closed. A driver that cannot give the port back
    // leaves the component open: the port operations keep working.
    void CloseDriver() override;

    // While closed, writes are ignored and reads give ClosedPort::kReading.
    void WritePortUchar(std::uint16_t port, std::uint8_t value) override { access_->Write(port, value); }
    std::uint8_t ReadPortUchar(std::uint16_t port) override { return access_->Read(port); }

    bool ActiveHW() const override { return access_ != &closedPort_; }
    // The text of the most recent failed step since construction, kept
    // across later successes.
    std::string LastError() const { return fields_.LastError; }
    std::string OpenFailure() const override { return openFailure_; }

    // Take effect at the next OpenDriver.
    const std::string& DriverPath() const { return fields_.DriverPath; }
    void SetDriverPath(std::string path) { fields_.DriverPath = std::move(path); }
    const std::string& DLLPath() const { return fields_.DLLPath; }
    void SetDLLPath(std::string path) { fields_.DLLPath = std::move(path); }
    bool HardAccess() const { return fields_.HardAccess; }
    void SetHardAccess(bool hardAccess) { fields_.HardAccess = hardAccess; }
    // Linux: the ppdev device /dev/parportN to open, whatever address
    // OpenDriver is given; none (the default): the device whose port has
    // that address, or raw port I/O. Windows has no such devices.
    const std::optional<unsigned>& PpdevDevice() const { return fields_.PpdevDevice; }
    void SetPpdevDevice(std::optional<unsigned> number) { fields_.PpdevDevice = number; }

private:
    PortIOFields fields_;
    std::unique_ptr<PortDriver> driver_;
    ClosedPort closedPort_;
    PortAccess* access_ = &closedPort_;
    std::string openFailure_;
};

}  // namespace velkor

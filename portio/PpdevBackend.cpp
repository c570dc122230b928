#include "PpdevBackend.h"

#include <fcntl.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>

#include "ParallelPorts.h"

namespace velkor {

namespace {

// The number N of the parallel port at baseAddress.
std::optional<unsigned> FindPortNumber(std::uint16_t baseAddress)
{
    for (unsigned number = 0; number < kMaxParallelPorts; ++number) {
        if (KernelBaseAddress(number) == baseAddress) {
            return number;
        }
    }
    return std::nullopt;
}

std::string SystemErrorText(int error)
{
    return std::strerror(error);
}

}  // namespace

PpdevPort::~PpdevPort()
{
    Close();
}

OpenResult PpdevPort::Open(std::uint16_t baseAddress)
{
    const std::optional<unsigned> number = FindPortNumber(baseAddress);
    if (!number) {
        return {OpenResult::Status::NotHere, "the kernel knows no parallel port at " + FormatPortAddress(baseAddress) +
                                                 " (is the parport_pc module loaded?)"};
    }
    return OpenNumber(*number, baseAddress);
}

// The device the user named is the only way to that port: its absence ends
// the open.
OpenResult PpdevPort::OpenDevice(unsigned number, std::uint16_t baseAddress)
{
    OpenResult result = OpenNumber(number, baseAddress);
    if (result.status == OpenResult::Status::NotHere) {
        result.status = OpenResult::Status::Failed;
        if (!KernelBaseAddress(number)) {
            result.reason = PpdevDevicePath(number) + " does not exist, and the kernel knows no parallel port " +
                            std::to_string(number);
        }
    }
    return result;
}

OpenResult PpdevPort::OpenNumber(unsigned number, std::uint16_t baseAddress)
{
    const std::string device = PpdevDevicePath(number);
    fd_ = ::open(device.c_str(), O_RDWR | O_CLOEXEC);
    if (fd_ < 0) {
        const int error = errno;
        switch (DeviceAccessAfter(error)) {
        case DeviceAccess::Missing:
            return {OpenResult::Status::NotHere, device + " for the port at " + FormatPortAddress(baseAddress) +
                                                     " is missing (" + kLoadPpdevHint + ")"};
        case DeviceAccess::Denied:
            return {OpenResult::Status::Failed, "permission denied on " + device + " (" + kJoinLpGroupHint + ")"};
        case DeviceAccess::NotPermitted:
            return {OpenResult::Status::Failed, "opening " + device + " is not permitted (" + kNotPermittedHint + ")"};
        default:
            return {OpenResult::Status::Failed, device + ": " + SystemErrorText(error)};
        }
    }
    base_ = baseAddress;
    return Claim(device);
}

// Claims the port shared, not exclusively: an exclusive claim fails for as
// long as the printer driver lp has the port registered. The kernel makes a
// shared claim wait while another user holds the port, and refuses it (ENXIO)
// when a driver or program has the port exclusively.
OpenResult PpdevPort::Claim(const std::string& device)
{
    if (::ioctl(fd_, PPCLAIM) != 0) {
        const int error = errno;
        ::close(fd_);
        fd_ = -1;
        if (error == EBUSY || error == EAGAIN || error == ENXIO) {
            return {OpenResult::Status::Failed, device + " is busy: another driver or program holds the port"};
        }
        return {OpenResult::Status::Failed, "cannot claim " + device + ": " + SystemErrorText(error)};
    }
    // A bidirectional port left in input mode would not drive the data lines.
    int forward = 0;
    ::ioctl(fd_, PPDATADIR, &forward);
    return {OpenResult::Status::Opened, {}};
}

void PpdevPort::Close()
{
    if (fd_ < 0) {
        return;
    }
    ::ioctl(fd_, PPRELEASE);
    ::close(fd_);
    fd_ = -1;
}

void PpdevPort::Write(std::uint16_t port, std::uint8_t value)
{
    unsigned char byte = value;
    if (port == base_) {
        ::ioctl(fd_, PPWDATA, &byte);
    } else if (port == base_ + 2) {
        ::ioctl(fd_, PPWCONTROL, &byte);
    }
}

// PPRSTATUS gives the status register as the port has it, BUSY (bit 7)
// already inverted by the hardware, just as a raw read of base + 1 does.
std::uint8_t PpdevPort::Read(std::uint16_t port)
{
    unsigned char byte = ClosedPort::kReading;
    if (port == base_ + 1) {
        ::ioctl(fd_, PPRSTATUS, &byte);
    } else if (port == base_) {
        ::ioctl(fd_, PPRDATA, &byte);
    } else if (port == base_ + 2) {
        ::ioctl(fd_, PPRCONTROL, &byte);
    }
    return byte;
}

}  // namespace velkor

#include "PpdevBackend.h"

#include <fcntl.h>
#include <linux/parport.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <optional>

namespace velkor {

namespace {

// The first number of a base-addr file ("888\t1912\n": the base, then the
// port's upper register block).
std::optional<unsigned> ReadBaseAddress(int portNumber)
{
    const std::string path = "/proc/sys/dev/parport/parport" + std::to_string(portNumber) + "/base-addr";
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return std::nullopt;
    }
    char text[64];
    const ssize_t length = ::read(fd, text, sizeof text - 1);
    ::close(fd);
    if (length <= 0) {
        return std::nullopt;
    }
    const char* begin = text;
    const char* end = text + length;
    while (begin != end && std::isspace(static_cast<unsigned char>(*begin))) {
        ++begin;
    }
    unsigned address = 0;
    if (std::from_chars(begin, end, address).ec != std::errc{}) {
        return std::nullopt;
    }
    return address;
}

// The number N of the parallel port at baseAddress.
std::optional<int> FindPortNumber(std::uint16_t baseAddress)
{
    for (int number = 0; number < PARPORT_MAX; ++number) {
        if (ReadBaseAddress(number) == baseAddress) {
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
    const std::optional<int> number = FindPortNumber(baseAddress);
    if (!number) {
        return {OpenResult::Status::NotHere, "the kernel knows no parallel port at " + FormatPortAddress(baseAddress) +
                                                 " (is the parport_pc module loaded?)"};
    }
    const std::string device = "/dev/parport" + std::to_string(*number);
    fd_ = ::open(device.c_str(), O_RDWR | O_CLOEXEC);
    if (fd_ < 0) {
        const int error = errno;
        if (error == ENOENT) {
            return {OpenResult::Status::NotHere, device + " for the port at " + FormatPortAddress(baseAddress) +
                                                     " is missing (load the ppdev module: modprobe ppdev)"};
        }
        if (error == EACCES || error == EPERM) {
            return {OpenResult::Status::Failed,
                    "permission denied on " + device +
                        " (add your user to the lp group: sudo usermod -aG lp $USER, then log in again)"};
        }
        return {OpenResult::Status::Failed, device + ": " + SystemErrorText(error)};
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

#include "RawIoBackend.h"

#include <sys/io.h>

#include <cerrno>
#include <cstring>

namespace velkor {

namespace {
// Data, status and control register.
constexpr unsigned kRegisterCount = 3;
}  // namespace

RawIoPort::~RawIoPort()
{
    Close();
}

OpenResult RawIoPort::Open(std::uint16_t baseAddress)
{
    if (::ioperm(baseAddress, kRegisterCount, 1) != 0) {
        const int error = errno;
        if (error == EPERM) {
            return {OpenResult::Status::Failed,
                    "raw port I/O at " + FormatPortAddress(baseAddress) + " needs root (CAP_SYS_RAWIO)"};
        }
        return {OpenResult::Status::Failed,
                std::string("raw port I/O is not available on this system (") + std::strerror(error) + ")"};
    }
    base_ = baseAddress;
    open_ = true;
    return {OpenResult::Status::Opened, {}};
}

void RawIoPort::Close()
{
    if (open_) {
        ::ioperm(base_, kRegisterCount, 0);
        open_ = false;
    }
}

// Only the granted registers: any other port would fault the process.
bool RawIoPort::Granted(std::uint16_t port) const
{
    return static_cast<std::uint16_t>(port - base_) < kRegisterCount;
}

void RawIoPort::Write(std::uint16_t port, std::uint8_t value)
{
    if (Granted(port)) {
        ::outb(value, port);
    }
}

std::uint8_t RawIoPort::Read(std::uint16_t port)
{
    return Granted(port) ? ::inb(port) : ClosedPort::kReading;
}

}  // namespace velkor

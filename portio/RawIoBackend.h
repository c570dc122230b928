#pragma once

#include "PortBackend.h"

namespace velkor {

// The port through raw port I/O (ioperm, inb, outb): for a port no ppdev
// device stands for. Needs root or CAP_SYS_RAWIO, and x86.
class RawIoPort final : public PortBackend {
public:
    ~RawIoPort() override;

    OpenResult Open(std::uint16_t baseAddress) override;
    void Close() override;
    void Write(std::uint16_t port, std::uint8_t value) override;
    std::uint8_t Read(std::uint16_t port) override;

private:
    bool Granted(std::uint16_t port) const;

    bool open_ = false;
    std::uint16_t base_ = 0;
};

}  // namespace velkor

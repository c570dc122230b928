#pragma once

#include <string>

#include "PortBackend.h"

namespace velkor {

// The port through the kernel's ppdev driver: /dev/parportN, where N is the
// port whose /proc/sys/dev/parport/parportN/base-addr is the address asked
// for. Sharing the port with the kernel's other parallel-port drivers is
// ppdev's job, which is why this way comes first.
class PpdevPort final : public PortBackend {
public:
    ~PpdevPort() override;

    OpenResult Open(std::uint16_t baseAddress) override;
    // /dev/parportN itself, whatever port the kernel has behind it; reads and
    // writes then use baseAddress for its data register.
    OpenResult OpenDevice(unsigned number, std::uint16_t baseAddress);
    void Close() override;
    void Write(std::uint16_t port, std::uint8_t value) override;
    std::uint8_t Read(std::uint16_t port) override;

private:
    OpenResult OpenNumber(unsigned number, std::uint16_t baseAddress);
    OpenResult Claim(const std::string& device);

    int fd_ = -1;
    std::uint16_t base_ = 0;
};

}  // namespace velkor

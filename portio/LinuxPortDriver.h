#pragma once

#include "PortBackend.h"
#include "PpdevBackend.h"
#include "RawIoBackend.h"

namespace velkor {

// The component's driver on Linux: ppdev when a ppdev device has the base
// address, otherwise raw port I/O when the process may use it. LastError
// says why neither worked.
class LinuxPortDriver final : public PortDriver {
public:
    explicit LinuxPortDriver(PortIOFields& fields) : fields_(fields) {}

    PortOpening Open(std::uint16_t portAddress) override;
    bool Close() override;

private:
    PortIOFields& fields_;
    PpdevPort ppdev_;
    RawIoPort rawIo_;
    PortBackend* open_ = nullptr;
};

}  // namespace velkor

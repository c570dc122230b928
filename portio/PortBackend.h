#pragma once

// One way of reaching a port on Linux (ppdev, raw port I/O): opened for one
// base address, then read and written through PortAccess.

#include <cstdint>
#include <string>

#include "PortDriver.h"
#include "PortName.h"

namespace velkor {

struct OpenResult {
    enum class Status {
        Opened,
        NotHere,  // this way does not lead to that port; another may
        Failed,   // the port is there but cannot be had
    } status;
    std::string reason;  // for NotHere and Failed, in words a user can act on
};

class PortBackend : public PortAccess {
public:
    virtual OpenResult Open(std::uint16_t baseAddress) = 0;
    virtual void Close() = 0;
};

}  // namespace velkor

#include "LinuxPortDriver.h"

namespace velkor {

PortOpening LinuxPortDriver::Open(std::uint16_t portAddress)
{
    OpenResult ppdev =
        fields_.PpdevDevice ? ppdev_.OpenDevice(*fields_.PpdevDevice, portAddress) : ppdev_.Open(portAddress);
    if (ppdev.status == OpenResult::Status::Opened) {
        return {open_ = &ppdev_, {}};
    }
    if (ppdev.status == OpenResult::Status::NotHere) {
        const OpenResult rawIo = rawIo_.Open(portAddress);
        if (rawIo.status == OpenResult::Status::Opened) {
            return {open_ = &rawIo_, {}};
        }
        ppdev.reason += ", and " + rawIo.reason;
    }
    fields_.LastError = ppdev.reason;
    return {nullptr, ppdev.reason};
}

bool LinuxPortDriver::Close()
{
    if (open_ != nullptr) {
        open_->Close();
        open_ = nullptr;
    }
    return true;
}

std::unique_ptr<PortDriver> MakePlatformDriver(PortIOFields& fields)
{
    return std::make_unique<LinuxPortDriver>(fields);
}

}  // namespace velkor

#include "PortIO.h"

namespace velkor {

TDLPortIO::TDLPortIO() : TDLPortIO(MakePlatformDriver) {}

TDLPortIO::TDLPortIO(const PortDriverFactory& makeDriver) : driver_(makeDriver(fields_)) {}

TDLPortIO::~TDLPortIO()
{
    if (ActiveHW()) {
        CloseDriver();
    }
}

void TDLPortIO::OpenDriver(std::uint16_t portAddress)
{
    if (ActiveHW()) {
        return;
    }
    if (PortAccess* access = driver_->Open(portAddress)) {
        access_ = access;
    }
}

void TDLPortIO::CloseDriver()
{
    if (!ActiveHW()) {
        return;
    }
    if (driver_->Close()) {
        access_ = &closedPort_;
    }
}

}  // namespace velkor

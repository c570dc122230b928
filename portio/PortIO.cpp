#include "PortIO.h"

#include <utility>

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
    PortOpening opening = driver_->Open(portAddress);
    if (opening.access != nullptr) {
        access_ = opening.access;
    }
    openFailure_ = std::move(opening.failure);
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

#include "PortIO.h"

#include <utility>

namespace velkor {

namespace {
// The one failure the driver leaves without a text: the port library did not
// load, or lacks one of the functions it must export.
constexpr const char* kNoLibraryReason =
    "the port I/O library DLPortIO.dll could not be loaded, or lacks one of its port functions";
}  // namespace

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
    // LastError keeps the most recent failure, so an older text must not be
    // taken for the reason of this open: look at what this open wrote alone.
    const std::string earlierError = std::exchange(fields_.LastError, {});
    PortAccess* access = driver_->Open(portAddress);
    if (access != nullptr) {
        access_ = access;
        openFailure_.clear();
    } else {
        openFailure_ = fields_.LastError.empty() ? kNoLibraryReason : fields_.LastError;
    }
    if (fields_.LastError.empty()) {
        fields_.LastError = earlierError;
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

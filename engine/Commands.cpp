// The frame around every command that goes to the port, and the commands
// that the window and the command line share.
#include "Programmer.h"

#include <cstdlib>

namespace velkor {

Programmer::Programmer(PortOperations& port, Clock& clock, Log& log) : port_(port), clock_(clock), log_(log) {}

bool Programmer::RunInCommandFrame(const std::function<bool()>& operation)
{
    port_.OpenDriver(PortAddress);
    if (!port_.ActiveHW()) {
        const std::string reason = port_.OpenFailure();
        log_.Append(reason.empty() ? "Cannot open the port." : "Cannot open the port: " + reason);
        return false;
    }
    const bool succeeded = operation();
    ReleasePort();
    port_.CloseDriver();
    return succeeded;
}

bool Programmer::ReadSignatureCommand()
{
    log_.Clear();
    return RunInCommandFrame([this] { return EnterProgramming(true); });
}

bool Programmer::WriteCommand(const std::filesystem::path& hexFile)
{
    log_.Clear();
    return RunInCommandFrame([this, &hexFile] { return WriteHexFile(hexFile); });
}

std::filesystem::path DefaultHexFilePath()
{
#ifdef _WIN32
    return std::filesystem::path("c:\\avrtools\\avr.hex");
#else
    const char* home = std::getenv("HOME");
    return std::filesystem::path(home != nullptr ? home : "") / "avrtools" / "avr.hex";
#endif
}

}  // namespace velkor

// The frame around every command that goes to the port, and the commands
// that the window and the command line share.
#include "Programmer.h"

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
    bool succeeded = false;
    try {
        succeeded = operation();
    } catch (const Interrupted&) {
        log_.Append("Interrupted.");
    }
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

}  // namespace velkor

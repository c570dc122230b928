// The frame around every command that goes to the port, and the commands
// that the window and the command line share.
#include "Programmer.h"

namespace velkor {

Session::Session(PortOperations& port, Clock& clock, Log& log) : port_(port), clock_(clock), log_(log)
{
    UseCable(BuiltInCable());
}

CommandResult Session::RunInCommandFrame(const std::function<bool()>& operation)
{
    failure_.reset();
    unlisted_.clear();
    port_.OpenDriver(PortAddress);
    if (!port_.ActiveHW()) {
        const std::string reason = port_.OpenFailure();
        log_.Append(reason.empty() ? "Cannot open the port." : "Cannot open the port: " + reason);
        return Refused(Fault::PortNotOpened);
    }
    bool succeeded = false;
    // The pace may follow this chip's clock for the command; the next one
    // starts where this one did, for whatever chip is there then.
    const std::chrono::nanoseconds startingPhase = SckPhase;
    PaceChosen.reset();
    try {
        OpenCable();
        succeeded = operation();
    } catch (const Interrupted&) {
        log_.Append("Interrupted.");
        Fail({.fault = Fault::Interrupted});
    }
    ReleasePort();
    SckPhase = startingPhase;
    port_.CloseDriver();
    CommandResult result{.succeeded = succeeded, .unlisted = std::move(unlisted_)};
    if (!succeeded) {
        result.failure = failure_.value_or(Failure{.fault = Fault::Other});
    }
    unlisted_.clear();
    return result;
}

void Session::Fail(const Failure& failure)
{
    if (!failure_) {
        failure_ = failure;
    }
}

CommandResult Session::Refused(Fault fault)
{
    return {.failure = {.fault = fault}};
}

CommandResult Programmer::ReadSignatureCommand()
{
    log_.Clear();
    return RunInCommandFrame([this] { return EnterProgramming(true); });
}

CommandResult Programmer::WriteCommand(const std::filesystem::path& hexFile, KeptThroughErase* kept)
{
    log_.Clear();
    kept_ = kept;
    CommandResult result = RunInCommandFrame([this, &hexFile] { return WriteHexFile(hexFile); });
    kept_ = nullptr;
    return result;
}

}  // namespace velkor

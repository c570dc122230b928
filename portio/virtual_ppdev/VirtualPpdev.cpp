#include "VirtualPpdev.h"

#include <linux/ioctl.h>
#include <linux/parport.h>
#include <linux/ppdev.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "NameMatch.h"
#include "Numbers.h"
#include "SckPace.h"
#include "FileReading.h"

namespace velkor::sim {

namespace {

constexpr std::string_view kDevicePrefix = "/dev/parport";
constexpr std::string_view kProcPrefix = "/proc/sys/dev/parport/parport";
constexpr std::string_view kProcSuffix = "/base-addr";
constexpr std::string_view kActiveSuffix = "/devices/active";
// The control bits the kernel's PC-style port lets ppdev write and read back
// (STROBE, AUTOFD, INIT, SELECT-IN); the interrupt and direction bits are
// its own.
constexpr std::uint8_t kControlLines = 0x0F;

std::optional<std::string> Environment(const char* name)
{
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0') {
        return std::nullopt;
    }
    return std::string(value);
}

unsigned ParsePortNumber(const std::string& text)
{
    const std::optional<std::uint64_t> value = ParseDigits(text, 10, PARPORT_MAX - 1);
    if (!value) {
        throw std::invalid_argument("VELKOR_VIRTUAL_PPDEV_NUMBER: not a port number from 0 to " +
                                    std::to_string(PARPORT_MAX - 1) + ": " + text);
    }
    return static_cast<unsigned>(*value);
}

std::uint16_t ParseBaseAddress(const std::string& text)
{
    const std::optional<std::uint32_t> value = ParseNumber(text, 0xFFFD);
    if (!value || *value == 0) {
        throw std::invalid_argument("VELKOR_VIRTUAL_PPDEV_BASE: not a port base address: " + text);
    }
    return static_cast<std::uint16_t>(*value);
}

VirtualPpdevConfig::Fault ParseFault(const std::string& text)
{
    using Fault = VirtualPpdevConfig::Fault;
    if (text == "permission-denied") {
        return Fault::PermissionDenied;
    }
    if (text == "not-permitted") {
        return Fault::NotPermitted;
    }
    if (text == "busy") {
        return Fault::Busy;
    }
    if (text == "held-exclusively") {
        return Fault::HeldExclusively;
    }
    if (text == "no-device-node") {
        return Fault::NoDeviceNode;
    }
    throw std::invalid_argument("VELKOR_VIRTUAL_PPDEV_FAULT: unknown fault " + text +
                                " (permission-denied, not-permitted, busy, held-exclusively or no-device-node)");
}

// The port number that follows prefix up to the end of path or to suffix.
std::optional<unsigned> PortNumberIn(std::string_view path, std::string_view prefix, std::string_view suffix)
{
    if (!path.starts_with(prefix) || !path.ends_with(suffix) || path.size() <= prefix.size() + suffix.size()) {
        return std::nullopt;
    }
    const std::string_view digits = path.substr(prefix.size(), path.size() - prefix.size() - suffix.size());
    const std::optional<std::uint64_t> number = ParseDigits(digits, 10, std::numeric_limits<unsigned>::max());
    if (!number) {
        return std::nullopt;
    }
    return static_cast<unsigned>(*number);
}

std::uint32_t ParseClock(const std::string& text)
{
    const auto hz = velkor::ParseChipClock(text);
    if (!hz) {
        throw std::invalid_argument(ChipClockError("VELKOR_VIRTUAL_PPDEV_CLOCK", text));
    }
    return *hz;
}

std::unique_ptr<SimulatedChip> MakeChip(const std::string& name, TimeSource& time, std::optional<std::uint32_t> clockHz)
{
    if (SameNameIgnoringCase(name, "none")) {
        return nullptr;
    }
    const ChipModel* model = FindChipModel(name);
    if (model == nullptr) {
        throw std::invalid_argument("VELKOR_VIRTUAL_PPDEV_CHIP: unknown chip " + name);
    }
    return std::make_unique<SimulatedChip>(*model, time, clockHz);
}

std::vector<Cable> ReadCableFile(const std::optional<std::filesystem::path>& file)
{
    if (!file) {
        return {};
    }
    try {
        const std::vector<std::uint8_t> bytes = ReadInputFile(*file, 1 << 20);
        return ParseCables(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), KnownCables());
    } catch (const std::exception& e) {
        throw std::invalid_argument("VELKOR_VIRTUAL_PPDEV_CABLE_FILE: " + file->string() + ": " + e.what());
    }
}

const Cable& ChosenCable(const std::string& name, std::span<const Cable> fileCables)
{
    const Cable* cable = FindCable(fileCables, name);
    if (cable == nullptr) {
        cable = FindCable(KnownCables(), name);
    }
    if (cable == nullptr) {
        throw std::invalid_argument("VELKOR_VIRTUAL_PPDEV_CABLE: unknown cable " + name);
    }
    return *cable;
}

// A file the port writes when it ends: refused at once (before its lock file
// is made) where no regular file may be written.
std::optional<StateFileLock> LockIfNamed(const std::optional<std::filesystem::path>& file)
{
    if (!file) {
        return std::nullopt;
    }
    CheckOutputFile(*file);
    return std::optional<StateFileLock>(std::in_place, *file, [](const std::filesystem::path& busy) {
        std::fprintf(stderr, "velkor virtual ppdev: waiting for %s, which another program is using\n",
                     busy.string().c_str());
    });
}

}  // namespace

VirtualPpdevConfig VirtualPpdevConfig::FromEnvironment()
{
    VirtualPpdevConfig config;
    config.chip = Environment("VELKOR_VIRTUAL_PPDEV_CHIP").value_or("none");
    config.cable = Environment("VELKOR_VIRTUAL_PPDEV_CABLE").value_or("built-in");
    if (const auto file = Environment("VELKOR_VIRTUAL_PPDEV_CABLE_FILE")) {
        config.cableFile = *file;
    }
    if (const auto base = Environment("VELKOR_VIRTUAL_PPDEV_BASE")) {
        config.baseAddress = ParseBaseAddress(*base);
    }
    if (const auto number = Environment("VELKOR_VIRTUAL_PPDEV_NUMBER")) {
        config.portNumber = ParsePortNumber(*number);
    }
    if (const auto clock = Environment("VELKOR_VIRTUAL_PPDEV_CLOCK")) {
        config.chipClockHz = ParseClock(*clock);
    }
    if (const auto state = Environment("VELKOR_VIRTUAL_PPDEV_STATE")) {
        config.stateFile = *state;
    }
    if (const auto stats = Environment("VELKOR_VIRTUAL_PPDEV_STATS")) {
        config.statsFile = *stats;
    }
    if (const auto fault = Environment("VELKOR_VIRTUAL_PPDEV_FAULT")) {
        config.fault = ParseFault(*fault);
    }
    return config;
}

VirtualPpdev::VirtualPpdev(VirtualPpdevConfig config)
    : config_(std::move(config)), stateLock_(LockIfNamed(config_.stateFile)),
      statsLock_(LockIfNamed(config_.statsFile)), startNanoseconds_(time_.NowNanoseconds()),
      fileCables_(ReadCableFile(config_.cableFile)), chip_(MakeChip(config_.chip, time_, config_.chipClockHz)),
      port_(time_, chip_.get())
{
    if (chip_ && config_.stateFile && std::filesystem::exists(*config_.stateFile)) {
        chip_->LoadState(*config_.stateFile);
    }
    port_.UseCable(ChosenCable(config_.cable, fileCables_));
    port_.OpenDriver(config_.baseAddress);
}

VirtualPpdev::~VirtualPpdev()
{
    try {
        SaveState();
        WriteStats();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "velkor virtual ppdev: %s\n", error.what());
    }
}

bool VirtualPpdev::IsParallelPortNode(std::string_view path)
{
    return PortNumberIn(path, kDevicePrefix, "") || PortNumberIn(path, kProcPrefix, kProcSuffix) ||
           PortNumberIn(path, kProcPrefix, kActiveSuffix);
}

VirtualPpdev::Node VirtualPpdev::Classify(std::string_view path) const
{
    if (const auto number = PortNumberIn(path, kDevicePrefix, "")) {
        return *number == config_.portNumber ? Node::Device : Node::Absent;
    }
    if (const auto number = PortNumberIn(path, kProcPrefix, kProcSuffix)) {
        return *number == config_.portNumber ? Node::BaseAddress : Node::Absent;
    }
    if (const auto number = PortNumberIn(path, kProcPrefix, kActiveSuffix)) {
        return *number == config_.portNumber ? Node::ActiveDevice : Node::Absent;
    }
    return Node::Other;
}

int VirtualPpdev::OpenError(Node node) const
{
    switch (node) {
    case Node::Absent:
        return ENOENT;
    case Node::Device:
        switch (config_.fault) {
        case VirtualPpdevConfig::Fault::NoDeviceNode:
            return ENOENT;
        case VirtualPpdevConfig::Fault::PermissionDenied:
            return EACCES;
        case VirtualPpdevConfig::Fault::NotPermitted:
            return EPERM;
        case VirtualPpdevConfig::Fault::None:
        case VirtualPpdevConfig::Fault::Busy:
        case VirtualPpdevConfig::Fault::HeldExclusively:
            return 0;
        }
        return 0;
    case Node::BaseAddress:
    case Node::ActiveDevice:
    case Node::Other:
        return 0;
    }
    return 0;
}

// base-addr: the base and the upper register block (0 for a port without
// one), tab-separated. devices/active: the name of the device that holds the
// port (ppdev's is ppdevN), or none.
std::string VirtualPpdev::NodeText(Node node) const
{
    if (node == Node::BaseAddress) {
        return std::to_string(config_.baseAddress) + "\t0\n";
    }
    const bool held = config_.fault == VirtualPpdevConfig::Fault::Busy ||
                      config_.fault == VirtualPpdevConfig::Fault::HeldExclusively ||
                      ClaimedElsewhere(-1);  // -1: claimed by any open file
    return held ? "ppdev" + std::to_string(config_.portNumber) + "\n" : "none\n";
}

void VirtualPpdev::Opened(int fd)
{
    files_[fd] = OpenFile{.mode = IEEE1284_MODE_COMPAT};
}

void VirtualPpdev::Closed(int fd)
{
    files_.erase(fd);
}

bool VirtualPpdev::ClaimedElsewhere(int fd) const
{
    for (const auto& [otherFd, file] : files_) {
        if (otherFd != fd && file.claimed) {
            return true;
        }
    }
    return false;
}

int VirtualPpdev::Ioctl(int fd, unsigned long request, void* argument)
{
    OpenFile& file = files_.at(fd);
    switch (request) {
    case PPCLAIM:
        if (file.claimed) {
            return -EINVAL;
        }
        if (config_.fault == VirtualPpdevConfig::Fault::HeldExclusively) {
            return -ENXIO;
        }
        // Where the kernel would wait for the other holder, say so at once.
        if (config_.fault == VirtualPpdevConfig::Fault::Busy || ClaimedElsewhere(fd)) {
            return -EBUSY;
        }
        file.claimed = true;
        state_ = file.saved;
        port_.RestoreControl(state_.control);
        return 0;
    case PPEXCL:
        // Exclusive access has to be asked for before the first claim.
        if (file.claimed) {
            return file.exclusive ? 0 : -EINVAL;
        }
        file.exclusive = true;
        return 0;
    case PPSETMODE:
        file.mode = *static_cast<int*>(argument);
        return 0;
    case PPGETMODE:
        *static_cast<int*>(argument) = file.mode;
        return 0;
    case PPDATADIR:
        if (!file.claimed) {
            return -EINVAL;
        }
        state_.reversed = *static_cast<int*>(argument) != 0;
        return 0;
    case PPRELEASE:
        if (!file.claimed) {
            return -EINVAL;
        }
        file.claimed = false;
        file.saved = state_;
        return 0;
    default:
        return file.claimed ? ClaimedIoctl(request, argument) : -EINVAL;
    }
}

// The register requests, valid only while the port is claimed.
int VirtualPpdev::ClaimedIoctl(unsigned long request, void* argument)
{
    auto* byte = static_cast<unsigned char*>(argument);
    switch (request) {
    case PPWDATA:
        // A reversed port does not drive the data lines: the chip sees nothing.
        if (!state_.reversed) {
            port_.WritePortUchar(config_.baseAddress, *byte);
        }
        return 0;
    case PPRDATA:
        *byte = port_.ReadPortUchar(config_.baseAddress);
        return 0;
    case PPRSTATUS:
        *byte = port_.ReadPortUchar(config_.baseAddress + 1);
        return 0;
    case PPWCONTROL:
        SetControl(static_cast<std::uint8_t>((state_.control & ~kControlLines) | (*byte & kControlLines)));
        return 0;
    case PPRCONTROL:
        *byte = state_.control & kControlLines;
        return 0;
    case PPFCONTROL: {
        const auto* frob = static_cast<const ppdev_frob_struct*>(argument);
        const auto mask = static_cast<std::uint8_t>(frob->mask & kControlLines);
        const auto value = static_cast<std::uint8_t>(frob->val & kControlLines);
        SetControl(static_cast<std::uint8_t>((state_.control & ~mask) ^ value));
        return 0;
    }
    default:
        return -ENOTTY;
    }
}

// The control lines drive the cable's control pins as the data lines do its
// data pins.
void VirtualPpdev::SetControl(std::uint8_t control)
{
    state_.control = control;
    port_.WritePortUchar(static_cast<std::uint16_t>(config_.baseAddress + 2), control);
}

void VirtualPpdev::SaveState() const
{
    if (chip_ && config_.stateFile) {
        chip_->SaveState(*config_.stateFile);
    }
}

void VirtualPpdev::WriteStats() const
{
    if (!config_.statsFile) {
        return;
    }
    const double seconds = static_cast<double>(time_.NowNanoseconds() - startNanoseconds_) / 1e9;
    const nlohmann::json stats = {
        {"chip", config_.chip},
        {"portAccesses", port_.AccessCount()},
        {"dataRegister", port_.DataRegister()},
        {"controlRegister", port_.ControlRegister()},
        {"cable", config_.cable},
        {"seconds", seconds},
        {"timingViolations", chip_ ? chip_->TimingViolations() : std::vector<std::string>{}},
    };
    WriteFileWhole(*config_.statsFile, stats.dump(2) + '\n');
}

}  // namespace velkor::sim

#pragma once

// A virtual ppdev parallel port with the simulated target on it: what the
// preloaded library (Interpose.cpp) answers when a program opens
// /dev/parportN or /proc/sys/dev/parport/parportN/base-addr and sends ppdev
// ioctls. It is one port number (0 unless configured); every other port
// number looks absent, so a program under it never reaches a real port.

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "SimulatedTarget.h"
#include "StateFiles.h"

namespace velkor::sim {

struct VirtualPpdevConfig {
    // Something a test can make the port do that a real one does.
    enum class Fault {
        None,
        PermissionDenied,  // opening /dev/parportN fails with EACCES (user not in lp)
        NotPermitted,      // opening /dev/parportN fails with EPERM (container or device rules)
        Busy,              // PPCLAIM fails with EBUSY
        HeldExclusively,   // PPCLAIM fails with ENXIO (another driver holds the port for itself)
        NoDeviceNode,      // /dev/parportN is missing (ppdev module not loaded)
    };

    std::string chip = "none";  // as --simulate names it
    // The cable between the port and the chip, as --cable names it, among the
    // known cables and those of cableFile (as --cable-file).
    std::string cable = "built-in";
    std::optional<std::filesystem::path> cableFile{};
    std::uint16_t baseAddress = 0x378;
    unsigned portNumber = 0;                           // N in /dev/parportN
    std::optional<std::uint32_t> chipClockHz{};        // as --sim-clock; default the chip's factory clock
    std::optional<std::filesystem::path> stateFile{};  // as --sim-state
    std::optional<std::filesystem::path> statsFile{};  // written when the program ends
    // Both files are written whole and locked while the port lives.
    Fault fault = Fault::None;

    // From the VELKOR_VIRTUAL_PPDEV_* variables. Throws std::invalid_argument
    // with a message for a value it cannot use.
    static VirtualPpdevConfig FromEnvironment();
};

class VirtualPpdev {
public:
    // Throws std::invalid_argument for an unknown chip, std::runtime_error
    // for a state file it cannot load.
    explicit VirtualPpdev(VirtualPpdevConfig config);
    // Saves the state file and writes the statistics.
    ~VirtualPpdev();

    VirtualPpdev(const VirtualPpdev&) = delete;
    VirtualPpdev& operator=(const VirtualPpdev&) = delete;

    enum class Node {
        Other,         // not a parallel port's: the real system answers
        Device,        // /dev/parportN
        BaseAddress,   // /proc/sys/dev/parport/parportN/base-addr
        ActiveDevice,  // /proc/sys/dev/parport/parportN/devices/active
        Absent,        // another port's device or base-addr file
    };
    // Whether path names any parallel port's device or one of the files the
    // kernel tells of it.
    static bool IsParallelPortNode(std::string_view path);
    Node Classify(std::string_view path) const;

    // 0, or the errno that opening this node gives.
    int OpenError(Node node) const;
    // The text of a file the kernel tells of the port in, as it writes it.
    std::string NodeText(Node node) const;

    // Each open file of the device keeps its own claim, as in the kernel.
    void Opened(int fd);
    void Closed(int fd);
    bool Owns(int fd) const { return files_.contains(fd); }

    // 0 on success, otherwise the negative errno that ioctl reports.
    int Ioctl(int fd, unsigned long request, void* argument);

    SimulatedChip* Chip() { return chip_.get(); }
    std::uint64_t PortAccesses() const { return port_.AccessCount(); }

private:
    // What a claim restores and a release saves: each device's own port
    // state, as the kernel keeps it. A PC-style port's starts with control
    // 0x0C and the data lines driven.
    struct PortState {
        std::uint8_t control = 0x0C;  // INIT high, SELECT-IN low: a port at rest
        bool reversed = false;        // PPDATADIR(1): the data lines not driven
    };
    struct OpenFile {
        bool claimed = false;
        bool exclusive = false;
        int mode;
        PortState saved{};
    };

    int ClaimedIoctl(unsigned long request, void* argument);
    void SetControl(std::uint8_t control);
    bool ClaimedElsewhere(int fd) const;
    void SaveState() const;
    void WriteStats() const;

    VirtualPpdevConfig config_;
    // Held for the life of the port, so that another program on the same
    // files waits for this one's results.
    std::optional<StateFileLock> stateLock_;
    std::optional<StateFileLock> statsLock_;
    RealTimeSource time_;
    std::uint64_t startNanoseconds_;
    std::vector<Cable> fileCables_;
    std::unique_ptr<SimulatedChip> chip_;
    SimulatedPort port_;
    // The port's registers as the device that holds it has set them.
    PortState state_{};
    std::map<int, OpenFile> files_;
};

}  // namespace velkor::sim

#pragma once

// The parallel ports the kernel knows (/proc/sys/dev/parport/parportN) and
// their ppdev devices (/dev/parportN): what `velkor-cli ports` lists, and
// what the ppdev way to a port looks up.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace velkor {

// The kernel's limit on parallel port numbers (PARPORT_MAX).
constexpr unsigned kMaxParallelPorts = 16;

// What to do about a device that is missing or may not be opened.
constexpr const char* kLoadPpdevHint = "load the ppdev module: modprobe ppdev";
constexpr const char* kJoinLpGroupHint = "add your user to the lp group: sudo usermod -aG lp $USER, then log in again";
// EPERM: the system's own rules refuse the device, whatever its permissions.
constexpr const char* kNotPermittedHint =
    "the system does not permit it: device rules of a container or a security module, not the lp group";

// "/dev/parportN".
std::string PpdevDevicePath(unsigned number);

// The base address the kernel gives port N, or nullopt when it knows no
// such port.
std::optional<std::uint16_t> KernelBaseAddress(unsigned number);

// What opening a ppdev device gave.
enum class DeviceAccess {
    Usable,
    Missing,       // no device node: ppdev is not loaded
    Denied,        // the node is there, but this user may not open it
    NotPermitted,  // the system's rules forbid opening it (EPERM)
    Failed,        // the open failed otherwise
};
// What an open's errno means for a ppdev device.
DeviceAccess DeviceAccessAfter(int openError);

struct ParallelPort {
    unsigned number;  // N of /dev/parportN
    std::uint16_t baseAddress;
    DeviceAccess access;
    int openError;       // errno of the failed open; 0 when usable
    std::string holder;  // the device that holds the port now (ppdevN for a program), or empty
};

// Every port the kernel knows, in number order, with whether its device can
// be opened and who holds the port. Opening a ppdev device without claiming
// it leaves the port alone.
std::vector<ParallelPort> ListParallelPorts();

}  // namespace velkor

#pragma once

// The Windows way to the ports: the DriverLINX Port I/O library
// "DLPortIO.dll", and on NT-family systems its kernel driver DLPortIO.SYS run
// as the service "DLPortIO". The service is installed and started when
// needed before the library is loaded, and afterwards exactly what was done
// is undone: a service found installed stays installed, one found running
// stays running.

#include <functional>
#include <array>
#include <string>
#include <vector>

#include "PortDriver.h"
#include "WinApi.h"

namespace velkor {

class WindowsDriverService final : public PortDriver, private PortAccess {
public:
    // Learns the platform family and sets DriverPath to the system
    // directory's DRIVERS folder.
    WindowsDriverService(win::WinApi& api, PortIOFields& fields);

    PortOpening Open(std::uint16_t portAddress) override;
    bool Close() override;

    bool RunningWinNT() const { return runningWinNT_; }
    bool DriverWasInstalled() const { return driverWasInstalled_; }
    bool DriverWasRunning() const { return driverWasRunning_; }
    win::ScHandle SCMHandle() const { return scmHandle_; }
    win::ModuleHandle DLLHandle() const { return dllHandle_; }

private:
    // Each step that fails records "<Step>: Error #<code>" in LastError and
    // among the open's failures.
    bool ConnectSCM();
    void DisconnectSCM();
    bool DriverInstall();
    bool DriverStart();
    bool DriverStop();
    bool DriverRemove();

    bool ServiceReady();
    bool LoadLibraryAndBind();
    void UndoOpen();
    bool Failed(const char* step, win::DWord code);
    bool LibraryFailed(std::string reason);
    std::string OpenFailure() const;
    bool ActOnService(const char* step, win::DWord access, const std::function<bool(win::ScHandle)>& action);

    void Write(std::uint16_t port, std::uint8_t value) override { writePortUchar_(port, value); }
    std::uint8_t Read(std::uint16_t port) override { return readPortUchar_(port); }

    win::WinApi& api_;
    PortIOFields& fields_;
    bool runningWinNT_ = false;
    win::ModuleHandle dllHandle_ = nullptr;
    win::ScHandle scmHandle_ = nullptr;
    bool driverWasInstalled_ = false;
    bool driverWasRunning_ = false;
    // What failed since the last open began: its cause first, then the undo
    // steps that failed as well. LastError keeps only the latest.
    std::vector<std::string> openFailures_;
    // The library's twelve exports, bound in OpenDriver; only the single-byte
    // read and write are called, the rest must merely be there.
    std::array<win::ProcAddress, 12> entryPoints_{};
    win::ReadPortUcharFunction readPortUchar_ = nullptr;
    win::WritePortUcharFunction writePortUchar_ = nullptr;
};

}  // namespace velkor

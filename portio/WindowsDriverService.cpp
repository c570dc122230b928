#include "WindowsDriverService.h"

#include <cstddef>
#include <functional>
#include <string>
#include <utility>

#include "ParallelPorts.h"

namespace velkor {

namespace {

constexpr const char* kServiceName = "DLPortIO";
constexpr const char* kServiceDisplayName = "DriverLINX Port I/O Driver";
constexpr const char* kDriverFileExtension = ".SYS";
constexpr const char* kLoadOrderGroup = "SST miniport drivers";
constexpr const char* kLibraryName = "DLPortIO.dll";
constexpr std::uint32_t kSystemDirectorySize = 260;

// A service in any state other than running or stopped (pending or paused).
constexpr win::DWord kServiceNotUsable = 0xFFFFFFFF;

constexpr std::array<const char*, 12> kEntryPointNames = {
    "DlPortReadPortUchar",        "DlPortReadPortUshort",        "DlPortReadPortUlong",
    "DlPortWritePortUchar",       "DlPortWritePortUshort",       "DlPortWritePortUlong",
    "DlPortReadPortBufferUchar",  "DlPortReadPortBufferUshort",  "DlPortReadPortBufferUlong",
    "DlPortWritePortBufferUchar", "DlPortWritePortBufferUshort", "DlPortWritePortBufferUlong",
};
constexpr std::size_t kReadPortUcharIndex = 0;
constexpr std::size_t kWritePortUcharIndex = 3;

}  // namespace

WindowsDriverService::WindowsDriverService(win::WinApi& api, PortIOFields& fields) : api_(api), fields_(fields)
{
    // A failing call leaves the platform id 0: not the NT family.
    win::OsVersionInfoA version{};
    version.dwOSVersionInfoSize = sizeof version;
    api_.GetVersionExA(&version);
    runningWinNT_ = version.dwPlatformId == win::kPlatformWin32NT;

    char systemDirectory[kSystemDirectorySize] = {};
    api_.GetSystemDirectoryA(systemDirectory, kSystemDirectorySize);
    fields_.DriverPath = std::string(systemDirectory) + "\\DRIVERS";
}

bool WindowsDriverService::Failed(const char* step, win::DWord code)
{
    fields_.LastError = std::string(step) + ": Error #" + std::to_string(code);
    openFailures_.push_back(fields_.LastError);
    return false;
}

// A library that does not load or lacks an export leaves LastError as it is;
// only the open's own message names it.
bool WindowsDriverService::LibraryFailed(std::string reason)
{
    openFailures_.push_back(std::move(reason));
    return false;
}

std::string WindowsDriverService::OpenFailure() const
{
    std::string text = openFailures_.front();
    for (std::size_t i = 1; i < openFailures_.size(); ++i) {
        text += (i == 1 ? "; undoing it failed too: " : ", ") + openFailures_[i];
    }
    return text;
}

// Opens the service with the access the action needs, runs the action and
// closes the handle again; a failing open or action records the step's text
// with the error code of the call that failed.
bool WindowsDriverService::ActOnService(const char* step, win::DWord access,
                                        const std::function<bool(win::ScHandle)>& action)
{
    win::ScHandle service = api_.OpenServiceA(scmHandle_, kServiceName, access);
    if (service == nullptr) {
        return Failed(step, api_.GetLastError());
    }
    const bool succeeded = action(service);
    const win::DWord error = succeeded ? 0 : api_.GetLastError();
    api_.CloseServiceHandle(service);
    return succeeded || Failed(step, error);
}

bool WindowsDriverService::ConnectSCM()
{
    constexpr win::DWord kFullAccess = win::kScManagerConnect | win::kScManagerCreateService |
                                       win::kScManagerEnumerateService | win::kScManagerQueryLockStatus;
    constexpr win::DWord kWithoutCreate = kFullAccess & ~win::kScManagerCreateService;

    scmHandle_ = api_.OpenSCManagerA(nullptr, nullptr, kFullAccess);
    win::DWord error = scmHandle_ == nullptr ? api_.GetLastError() : 0;
    // A user who may not create services may still use one that is installed.
    if (scmHandle_ == nullptr && error == win::kErrorAccessDenied) {
        scmHandle_ = api_.OpenSCManagerA(nullptr, nullptr, kWithoutCreate);
        error = scmHandle_ == nullptr ? api_.GetLastError() : 0;
    }
    return scmHandle_ != nullptr || Failed("ConnectSCM", error);
}

void WindowsDriverService::DisconnectSCM()
{
    if (scmHandle_ != nullptr) {
        api_.CloseServiceHandle(scmHandle_);
        scmHandle_ = nullptr;
    }
}

bool WindowsDriverService::DriverInstall()
{
    driverWasInstalled_ = false;
    const std::string driverFile = fields_.DriverPath + "\\" + kServiceName + kDriverFileExtension;

    if (win::ScHandle existing = api_.OpenServiceA(scmHandle_, kServiceName, win::kServiceQueryStatus)) {
        driverWasInstalled_ = true;
        api_.CloseServiceHandle(existing);
        return true;
    }
    constexpr win::DWord kAccess = win::kDelete | win::kServiceStop | win::kServiceStart | win::kServiceQueryStatus;
    win::ScHandle created = api_.CreateServiceA(
        scmHandle_, kServiceName, kServiceDisplayName, kAccess, win::kServiceKernelDriver, win::kServiceDemandStart,
        win::kServiceErrorNormal, driverFile.c_str(), kLoadOrderGroup, nullptr, nullptr, nullptr, nullptr);
    if (created == nullptr) {
        return Failed("DriverInstall", api_.GetLastError());
    }
    api_.CloseServiceHandle(created);
    return true;
}

bool WindowsDriverService::DriverStart()
{
    driverWasRunning_ = false;
    win::ScHandle service = api_.OpenServiceA(scmHandle_, kServiceName, win::kServiceQueryStatus);
    if (service == nullptr) {
        return Failed("DriverStart", api_.GetLastError());
    }
    win::ServiceStatus status{};
    if (!api_.QueryServiceStatus(service, &status)) {
        const win::DWord error = api_.GetLastError();
        api_.CloseServiceHandle(service);
        return Failed("DriverStart", error);
    }
    api_.CloseServiceHandle(service);

    if (status.dwCurrentState == win::kServiceRunning) {
        driverWasRunning_ = true;
        return true;
    }
    if (status.dwCurrentState != win::kServiceStopped) {
        return Failed("DriverStart", kServiceNotUsable);
    }
    return ActOnService("DriverStart", win::kServiceStart,
                        [this](win::ScHandle service) { return api_.StartServiceA(service, 0, nullptr); });
}

bool WindowsDriverService::DriverStop()
{
    if (driverWasRunning_) {
        return true;
    }
    return ActOnService("DriverStop", win::kServiceStop | win::kServiceQueryStatus, [this](win::ScHandle service) {
        win::ServiceStatus status{};
        return api_.ControlService(service, win::kServiceControlStop, &status);
    });
}

bool WindowsDriverService::DriverRemove()
{
    if (driverWasInstalled_) {
        return true;
    }
    return ActOnService("DriverRemove", win::kDelete,
                        [this](win::ScHandle service) { return api_.DeleteService(service); });
}

// Connects to the service manager and makes sure the service is installed
// and running; on failure undoes what it did and disconnects.
bool WindowsDriverService::ServiceReady()
{
    if (!ConnectSCM()) {
        return false;
    }
    if (!DriverInstall()) {
        DisconnectSCM();
        return false;
    }
    if (!DriverStart()) {
        DriverRemove();
        DisconnectSCM();
        return false;
    }
    return true;
}

bool WindowsDriverService::LoadLibraryAndBind()
{
    // No separator test: a DLLPath ending in "\" gives a doubled one.
    const std::string library = fields_.DLLPath.empty() ? kLibraryName : fields_.DLLPath + "\\" + kLibraryName;
    dllHandle_ = api_.LoadLibraryA(library.c_str());
    if (dllHandle_ == nullptr) {
        return LibraryFailed("the port I/O library " + library + " could not be loaded");
    }
    const char* missing = nullptr;
    for (std::size_t i = 0; i < kEntryPointNames.size(); ++i) {
        entryPoints_[i] = api_.GetProcAddress(dllHandle_, kEntryPointNames[i]);
        if (entryPoints_[i] == nullptr && missing == nullptr) {
            missing = kEntryPointNames[i];
        }
    }
    readPortUchar_ = reinterpret_cast<win::ReadPortUcharFunction>(entryPoints_[kReadPortUcharIndex]);
    writePortUchar_ = reinterpret_cast<win::WritePortUcharFunction>(entryPoints_[kWritePortUcharIndex]);
    return missing == nullptr || LibraryFailed("the port I/O library " + library + " lacks " + missing);
}

void WindowsDriverService::UndoOpen()
{
    if (runningWinNT_) {
        DriverStop();
        DriverRemove();
        DisconnectSCM();
    }
    if (dllHandle_ != nullptr) {
        api_.FreeLibrary(dllHandle_);
        dllHandle_ = nullptr;
    }
}

PortOpening WindowsDriverService::Open(std::uint16_t /*portAddress: the driver opens every port*/)
{
    if (fields_.PpdevDevice) {
        return {nullptr, PpdevDevicePath(*fields_.PpdevDevice) +
                             " is a Linux ppdev device; on Windows name the port by its address"};
    }
    openFailures_.clear();
    if (runningWinNT_ && !ServiceReady()) {
        return {nullptr, OpenFailure()};
    }
    if (LoadLibraryAndBind()) {
        return {this, {}};  // on NT the manager stays connected until Close
    }
    UndoOpen();
    return {nullptr, OpenFailure()};
}

// The service is stopped and deleted while the library is still loaded; the
// library is given back last. A failing step leaves the port open.
bool WindowsDriverService::Close()
{
    if (runningWinNT_) {
        if (!DriverStop() || !DriverRemove()) {
            return false;
        }
        DisconnectSCM();
    }
    if (!api_.FreeLibrary(dllHandle_)) {
        return false;
    }
    dllHandle_ = nullptr;
    return true;
}

}  // namespace velkor

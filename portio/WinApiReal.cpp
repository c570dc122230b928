// The real Windows functions behind the port component's table, and the
// component's driver on Windows. Built only for Windows.
#include <windows.h>

#include <cstring>

#include "WinApi.h"
#include "WindowsDriverService.h"

namespace velkor {

namespace win {

namespace {

static_assert(sizeof(OSVERSIONINFOA) == sizeof(OsVersionInfoA));
static_assert(sizeof(SERVICE_STATUS) == sizeof(ServiceStatus));

SC_HANDLE Native(ScHandle handle)
{
    return static_cast<SC_HANDLE>(handle);
}

ServiceStatus FromNative(const SERVICE_STATUS& status)
{
    return {status.dwServiceType,
            status.dwCurrentState,
            status.dwControlsAccepted,
            status.dwWin32ExitCode,
            status.dwServiceSpecificExitCode,
            status.dwCheckPoint,
            status.dwWaitHint};
}

class RealWinApi final : public WinApi {
public:
    bool GetVersionExA(OsVersionInfoA* versionInfo) override
    {
        OSVERSIONINFOA native{};
        native.dwOSVersionInfoSize = versionInfo->dwOSVersionInfoSize;
        native.dwPlatformId = versionInfo->dwPlatformId;
        if (!::GetVersionExA(&native)) {
            return false;
        }
        versionInfo->dwMajorVersion = native.dwMajorVersion;
        versionInfo->dwMinorVersion = native.dwMinorVersion;
        versionInfo->dwBuildNumber = native.dwBuildNumber;
        versionInfo->dwPlatformId = native.dwPlatformId;
        std::memcpy(versionInfo->szCSDVersion, native.szCSDVersion, sizeof versionInfo->szCSDVersion);
        return true;
    }

    std::uint32_t GetSystemDirectoryA(char* buffer, std::uint32_t size) override
    {
        return ::GetSystemDirectoryA(buffer, size);
    }

    DWord GetLastError() override { return ::GetLastError(); }

    ModuleHandle LoadLibraryA(const char* fileName) override { return ::LoadLibraryA(fileName); }

    ProcAddress GetProcAddress(ModuleHandle module, const char* procName) override
    {
        return reinterpret_cast<ProcAddress>(::GetProcAddress(static_cast<HMODULE>(module), procName));
    }

    bool FreeLibrary(ModuleHandle module) override { return ::FreeLibrary(static_cast<HMODULE>(module)) != FALSE; }

    ScHandle OpenSCManagerA(const char* machineName, const char* databaseName, DWord desiredAccess) override
    {
        return ::OpenSCManagerA(machineName, databaseName, desiredAccess);
    }

    ScHandle OpenServiceA(ScHandle manager, const char* serviceName, DWord desiredAccess) override
    {
        return ::OpenServiceA(Native(manager), serviceName, desiredAccess);
    }

    ScHandle CreateServiceA(ScHandle manager, const char* serviceName, const char* displayName, DWord desiredAccess,
                            DWord serviceType, DWord startType, DWord errorControl, const char* binaryPathName,
                            const char* loadOrderGroup, DWord* tagId, const char* dependencies,
                            const char* serviceStartName, const char* password) override
    {
        DWORD nativeTag = 0;
        SC_HANDLE service =
            ::CreateServiceA(Native(manager), serviceName, displayName, desiredAccess, serviceType, startType,
                             errorControl, binaryPathName, loadOrderGroup, tagId != nullptr ? &nativeTag : nullptr,
                             dependencies, serviceStartName, password);
        if (tagId != nullptr) {
            *tagId = nativeTag;
        }
        return service;
    }

    bool StartServiceA(ScHandle service, DWord numServiceArgs, const char** serviceArgVectors) override
    {
        return ::StartServiceA(Native(service), numServiceArgs, serviceArgVectors) != FALSE;
    }

    bool ControlService(ScHandle service, DWord control, ServiceStatus* status) override
    {
        SERVICE_STATUS native{};
        const bool done = ::ControlService(Native(service), control, &native) != FALSE;
        *status = FromNative(native);
        return done;
    }

    bool QueryServiceStatus(ScHandle service, ServiceStatus* status) override
    {
        SERVICE_STATUS native{};
        const bool done = ::QueryServiceStatus(Native(service), &native) != FALSE;
        *status = FromNative(native);
        return done;
    }

    bool DeleteService(ScHandle service) override { return ::DeleteService(Native(service)) != FALSE; }

    bool CloseServiceHandle(ScHandle handle) override { return ::CloseServiceHandle(Native(handle)) != FALSE; }
};

}  // namespace

WinApi& SystemWinApi()
{
    static RealWinApi api;
    return api;
}

}  // namespace win

std::unique_ptr<PortDriver> MakePlatformDriver(PortIOFields& fields)
{
    return std::make_unique<WindowsDriverService>(win::SystemWinApi(), fields);
}

}  // namespace velkor

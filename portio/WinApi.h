#pragma once

// The Windows functions the port component calls, as a table it reaches them
// through: the real functions on Windows (WinApiReal.cpp), a scripted fake in
// the tests. The types are this program's own, declared to carry the same
// values as the platform's, so that the service logic builds and is tested
// on any system.

#include <cstdint>

namespace velkor::win {

using DWord = std::uint32_t;
using ScHandle = void*;      // a service control manager or service handle
using ModuleHandle = void*;  // a loaded library
using ProcAddress = void (*)();

// The calling convention of the port library's exports: stdcall, which on
// 64-bit Windows and elsewhere is the ordinary one.
#if defined(_WIN32) && !defined(_WIN64)
#define VELKOR_WINAPI __stdcall
#else
#define VELKOR_WINAPI
#endif

using ReadPortUcharFunction = std::uint8_t(VELKOR_WINAPI*)(DWord port);
using WritePortUcharFunction = void(VELKOR_WINAPI*)(DWord port, std::uint8_t value);

// The version record GetVersionExA fills; 148 bytes with its version text.
struct OsVersionInfoA {
    DWord dwOSVersionInfoSize;
    DWord dwMajorVersion;
    DWord dwMinorVersion;
    DWord dwBuildNumber;
    DWord dwPlatformId;
    char szCSDVersion[128];
};
static_assert(sizeof(OsVersionInfoA) == 148);

struct ServiceStatus {
    DWord dwServiceType;
    DWord dwCurrentState;
    DWord dwControlsAccepted;
    DWord dwWin32ExitCode;
    DWord dwServiceSpecificExitCode;
    DWord dwCheckPoint;
    DWord dwWaitHint;
};

inline constexpr DWord kPlatformWin32NT = 2;
inline constexpr DWord kErrorAccessDenied = 5;

// Service control manager access rights.
inline constexpr DWord kScManagerConnect = 0x0001;
inline constexpr DWord kScManagerCreateService = 0x0002;
inline constexpr DWord kScManagerEnumerateService = 0x0004;
inline constexpr DWord kScManagerQueryLockStatus = 0x0010;

// Service access rights.
inline constexpr DWord kServiceQueryStatus = 0x0004;
inline constexpr DWord kServiceStart = 0x0010;
inline constexpr DWord kServiceStop = 0x0020;
inline constexpr DWord kDelete = 0x10000;

inline constexpr DWord kServiceKernelDriver = 1;
inline constexpr DWord kServiceDemandStart = 3;
inline constexpr DWord kServiceErrorNormal = 1;
inline constexpr DWord kServiceControlStop = 1;

// Service states.
inline constexpr DWord kServiceStopped = 1;
inline constexpr DWord kServiceRunning = 4;

class WinApi {
public:
    virtual ~WinApi() = default;

    virtual bool GetVersionExA(OsVersionInfoA* versionInfo) = 0;
    virtual std::uint32_t GetSystemDirectoryA(char* buffer, std::uint32_t size) = 0;
    virtual DWord GetLastError() = 0;

    virtual ModuleHandle LoadLibraryA(const char* fileName) = 0;
    virtual ProcAddress GetProcAddress(ModuleHandle module, const char* procName) = 0;
    virtual bool FreeLibrary(ModuleHandle module) = 0;

    virtual ScHandle OpenSCManagerA(const char* machineName, const char* databaseName, DWord desiredAccess) = 0;
    virtual ScHandle OpenServiceA(ScHandle manager, const char* serviceName, DWord desiredAccess) = 0;
    virtual ScHandle CreateServiceA(ScHandle manager, const char* serviceName, const char* displayName,
                                    DWord desiredAccess, DWord serviceType, DWord startType, DWord errorControl,
                                    const char* binaryPathName, const char* loadOrderGroup, DWord* tagId,
                                    const char* dependencies, const char* serviceStartName, const char* password) = 0;
    virtual bool StartServiceA(ScHandle service, DWord numServiceArgs, const char** serviceArgVectors) = 0;
    virtual bool ControlService(ScHandle service, DWord control, ServiceStatus* status) = 0;
    virtual bool QueryServiceStatus(ScHandle service, ServiceStatus* status) = 0;
    virtual bool DeleteService(ScHandle service) = 0;
    virtual bool CloseServiceHandle(ScHandle handle) = 0;
};

// The real functions; only in the Windows build.
WinApi& SystemWinApi();

}  // namespace velkor::win

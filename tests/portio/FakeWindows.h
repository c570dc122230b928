#pragma once

// A scripted Windows for the DriverLINX path of the port component: a
// service control manager with one service, a loadable port library, and a
// record of every call in order. Each call's text names the function and
// the arguments that matter (access masks, paths, names), handles by kind.

#include <cstdint>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "WinApi.h"

namespace velkor::testing {

class FakeWindows final : public win::WinApi {
public:
    FakeWindows();
    ~FakeWindows() override;

    // ---- The platform as the test arranges it -------------------------
    win::DWord platformId = win::kPlatformWin32NT;
    std::string systemDirectory = "C:\\WINNT\\system32";

    bool serviceInstalled = false;
    win::DWord serviceState = win::kServiceStopped;

    bool libraryPresent = true;
    std::set<std::string> missingExports;
    std::uint8_t portReading = 0x5A;  // what the library's byte read returns

    // Calls whose text begins with `call` fail with `code`, after `skip`
    // such calls have succeeded; until the test removes the failure.
    struct Failure {
        std::string call;
        win::DWord code;
        int skip = 0;
    };
    std::vector<Failure> failures;
    void Fail(std::string call, win::DWord code, int skip = 0) { failures.push_back({std::move(call), code, skip}); }

    // ---- What the component did ------------------------------------------
    std::vector<std::string> calls;
    // Handles given out and not closed, or a library still loaded.
    std::size_t OpenHandles() const { return openManagers_.size() + openServices_.size() + (libraryLoaded_ ? 1 : 0); }

    // ---- The table ----------------------------------------------------------
    bool GetVersionExA(win::OsVersionInfoA* versionInfo) override;
    std::uint32_t GetSystemDirectoryA(char* buffer, std::uint32_t size) override;
    win::DWord GetLastError() override { return lastError_; }
    win::ModuleHandle LoadLibraryA(const char* fileName) override;
    win::ProcAddress GetProcAddress(win::ModuleHandle module, const char* procName) override;
    bool FreeLibrary(win::ModuleHandle module) override;
    win::ScHandle OpenSCManagerA(const char* machineName, const char* databaseName, win::DWord desiredAccess) override;
    win::ScHandle OpenServiceA(win::ScHandle manager, const char* serviceName, win::DWord desiredAccess) override;
    win::ScHandle CreateServiceA(win::ScHandle manager, const char* serviceName, const char* displayName,
                                 win::DWord desiredAccess, win::DWord serviceType, win::DWord startType,
                                 win::DWord errorControl, const char* binaryPathName, const char* loadOrderGroup,
                                 win::DWord* tagId, const char* dependencies, const char* serviceStartName,
                                 const char* password) override;
    bool StartServiceA(win::ScHandle service, win::DWord numServiceArgs, const char** serviceArgVectors) override;
    bool ControlService(win::ScHandle service, win::DWord control, win::ServiceStatus* status) override;
    bool QueryServiceStatus(win::ScHandle service, win::ServiceStatus* status) override;
    bool DeleteService(win::ScHandle service) override;
    bool CloseServiceHandle(win::ScHandle handle) override;

    // The library's byte read and write land here.
    std::uint8_t PortRead(win::DWord port);
    void PortWrite(win::DWord port, std::uint8_t value);

private:
    // Records the call; true when the script makes it fail (the error code is
    // then set, otherwise cleared, as a real call may clear it).
    bool CallFails(const std::string& text);
    void FailWith(win::DWord code);
    std::string HandleName(win::ScHandle handle) const;
    // A handle that is not an open manager fails the call, as on Windows.
    bool ValidManager(win::ScHandle handle);
    void ExpectService(win::ScHandle handle) const;
    win::ScHandle NewService();

    win::DWord lastError_ = 0;
    std::set<win::ScHandle> openManagers_;
    std::set<win::ScHandle> openServices_;
    std::uintptr_t nextHandle_ = 0x1000;
    bool libraryLoaded_ = false;
    std::string libraryName_;
};

}  // namespace velkor::testing

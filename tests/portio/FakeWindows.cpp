#include "FakeWindows.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <map>

namespace velkor::testing {

namespace {

// Codes a real service control manager and loader give.
constexpr win::DWord kErrorInvalidHandle = 6;
constexpr win::DWord kErrorModNotFound = 126;
constexpr win::DWord kErrorProcNotFound = 127;
constexpr win::DWord kErrorServiceNotActive = 1062;
constexpr win::DWord kErrorServiceDoesNotExist = 1060;
constexpr win::DWord kErrorServiceExists = 1073;
constexpr win::DWord kErrorServiceAlreadyRunning = 1056;

win::ModuleHandle const kLibraryHandle = reinterpret_cast<win::ModuleHandle>(0xD11);

// The library's exports reach the fake that is alive.
FakeWindows* activeWindows = nullptr;

std::uint8_t VELKOR_WINAPI ReadPortUchar(win::DWord port)
{
    return activeWindows->PortRead(port);
}
void VELKOR_WINAPI WritePortUchar(win::DWord port, std::uint8_t value)
{
    activeWindows->PortWrite(port, value);
}
void UnusedExport()
{
    ADD_FAILURE() << "a port library export other than the byte read and write was called";
}

const std::map<std::string, win::ProcAddress>& Exports()
{
    static const std::map<std::string, win::ProcAddress> exports = {
        {"DlPortReadPortUchar", reinterpret_cast<win::ProcAddress>(&ReadPortUchar)},
        {"DlPortReadPortUshort", &UnusedExport},
        {"DlPortReadPortUlong", &UnusedExport},
        {"DlPortWritePortUchar", reinterpret_cast<win::ProcAddress>(&WritePortUchar)},
        {"DlPortWritePortUshort", &UnusedExport},
        {"DlPortWritePortUlong", &UnusedExport},
        {"DlPortReadPortBufferUchar", &UnusedExport},
        {"DlPortReadPortBufferUshort", &UnusedExport},
        {"DlPortReadPortBufferUlong", &UnusedExport},
        {"DlPortWritePortBufferUchar", &UnusedExport},
        {"DlPortWritePortBufferUshort", &UnusedExport},
        {"DlPortWritePortBufferUlong", &UnusedExport},
    };
    return exports;
}

std::string Hex(unsigned value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", value);
    return text;
}

std::string Text(const char* text)
{
    return text != nullptr ? text : "NULL";
}

}  // namespace

FakeWindows::FakeWindows()
{
    activeWindows = this;
}

FakeWindows::~FakeWindows()
{
    activeWindows = nullptr;
}

bool FakeWindows::CallFails(const std::string& text)
{
    calls.push_back(text);
    for (Failure& failure : failures) {
        if (text.starts_with(failure.call)) {
            if (failure.skip > 0) {
                --failure.skip;
                break;
            }
            FailWith(failure.code);
            return true;
        }
    }
    lastError_ = 0;
    return false;
}

void FakeWindows::FailWith(win::DWord code)
{
    lastError_ = code;
}

std::string FakeWindows::HandleName(win::ScHandle handle) const
{
    if (openManagers_.contains(handle)) {
        return "manager";
    }
    return openServices_.contains(handle) ? "service" : "unknown handle";
}

bool FakeWindows::ValidManager(win::ScHandle handle)
{
    if (!openManagers_.contains(handle)) {
        FailWith(kErrorInvalidHandle);
        return false;
    }
    return true;
}

void FakeWindows::ExpectService(win::ScHandle handle) const
{
    EXPECT_TRUE(openServices_.contains(handle)) << "not an open service handle";
}

win::ScHandle FakeWindows::NewService()
{
    auto* handle = reinterpret_cast<win::ScHandle>(nextHandle_++);
    openServices_.insert(handle);
    return handle;
}

bool FakeWindows::GetVersionExA(win::OsVersionInfoA* versionInfo)
{
    if (CallFails("GetVersionExA(" + std::to_string(versionInfo->dwOSVersionInfoSize) + ")")) {
        return false;
    }
    versionInfo->dwPlatformId = platformId;
    return true;
}

std::uint32_t FakeWindows::GetSystemDirectoryA(char* buffer, std::uint32_t size)
{
    CallFails("GetSystemDirectoryA(" + std::to_string(size) + ")");
    std::snprintf(buffer, size, "%s", systemDirectory.c_str());
    return static_cast<std::uint32_t>(std::strlen(buffer));
}

win::ModuleHandle FakeWindows::LoadLibraryA(const char* fileName)
{
    if (CallFails("LoadLibraryA(" + Text(fileName) + ")")) {
        return nullptr;
    }
    if (!libraryPresent) {
        FailWith(kErrorModNotFound);
        return nullptr;
    }
    EXPECT_FALSE(libraryLoaded_) << "the library was loaded twice";
    libraryLoaded_ = true;
    libraryName_ = fileName;
    return kLibraryHandle;
}

win::ProcAddress FakeWindows::GetProcAddress(win::ModuleHandle module, const char* procName)
{
    EXPECT_EQ(module, kLibraryHandle);
    if (CallFails("GetProcAddress(" + Text(procName) + ")")) {
        return nullptr;
    }
    const auto entry = Exports().find(Text(procName));
    if (entry == Exports().end() || missingExports.contains(entry->first)) {
        FailWith(kErrorProcNotFound);
        return nullptr;
    }
    return entry->second;
}

bool FakeWindows::FreeLibrary(win::ModuleHandle module)
{
    EXPECT_EQ(module, kLibraryHandle);
    if (CallFails("FreeLibrary(" + libraryName_ + ")")) {
        return false;
    }
    libraryLoaded_ = false;
    return true;
}

win::ScHandle FakeWindows::OpenSCManagerA(const char* machineName, const char* databaseName, win::DWord desiredAccess)
{
    if (CallFails("OpenSCManagerA(" + Text(machineName) + ", " + Text(databaseName) + ", " + Hex(desiredAccess) +
                  ")")) {
        return nullptr;
    }
    auto* handle = reinterpret_cast<win::ScHandle>(nextHandle_++);
    openManagers_.insert(handle);
    return handle;
}

win::ScHandle FakeWindows::OpenServiceA(win::ScHandle manager, const char* serviceName, win::DWord desiredAccess)
{
    if (CallFails("OpenServiceA(" + Text(serviceName) + ", " + Hex(desiredAccess) + ")") || !ValidManager(manager)) {
        return nullptr;
    }
    if (!serviceInstalled) {
        FailWith(kErrorServiceDoesNotExist);
        return nullptr;
    }
    return NewService();
}

win::ScHandle FakeWindows::CreateServiceA(win::ScHandle manager, const char* serviceName, const char* displayName,
                                          win::DWord desiredAccess, win::DWord serviceType, win::DWord startType,
                                          win::DWord errorControl, const char* binaryPathName,
                                          const char* loadOrderGroup, win::DWord* tagId, const char* dependencies,
                                          const char* serviceStartName, const char* password)
{
    const std::string text =
        "CreateServiceA(" + Text(serviceName) + ", " + Text(displayName) + ", " + Hex(desiredAccess) + ", " +
        std::to_string(serviceType) + ", " + std::to_string(startType) + ", " + std::to_string(errorControl) + ", " +
        Text(binaryPathName) + ", " + Text(loadOrderGroup) + ", " + (tagId != nullptr ? "tag" : "NULL") + ", " +
        Text(dependencies) + ", " + Text(serviceStartName) + ", " + Text(password) + ")";
    if (CallFails(text) || !ValidManager(manager)) {
        return nullptr;
    }
    if (serviceInstalled) {
        FailWith(kErrorServiceExists);
        return nullptr;
    }
    serviceInstalled = true;
    serviceState = win::kServiceStopped;
    return NewService();
}

bool FakeWindows::StartServiceA(win::ScHandle service, win::DWord numServiceArgs, const char** serviceArgVectors)
{
    ExpectService(service);
    if (CallFails("StartServiceA(" + HandleName(service) + ", " + std::to_string(numServiceArgs) + ", " +
                  (serviceArgVectors != nullptr ? "args" : "NULL") + ")")) {
        return false;
    }
    if (serviceState == win::kServiceRunning) {
        FailWith(kErrorServiceAlreadyRunning);
        return false;
    }
    serviceState = win::kServiceRunning;
    return true;
}

bool FakeWindows::ControlService(win::ScHandle service, win::DWord control, win::ServiceStatus* status)
{
    ExpectService(service);
    EXPECT_NE(status, nullptr);
    if (CallFails("ControlService(" + HandleName(service) + ", " + std::to_string(control) + ")")) {
        return false;
    }
    if (serviceState != win::kServiceRunning) {
        FailWith(kErrorServiceNotActive);
        return false;
    }
    serviceState = win::kServiceStopped;
    status->dwCurrentState = serviceState;
    return true;
}

bool FakeWindows::QueryServiceStatus(win::ScHandle service, win::ServiceStatus* status)
{
    ExpectService(service);
    if (CallFails("QueryServiceStatus(" + HandleName(service) + ")")) {
        return false;
    }
    status->dwCurrentState = serviceState;
    return true;
}

bool FakeWindows::DeleteService(win::ScHandle service)
{
    ExpectService(service);
    if (CallFails("DeleteService(" + HandleName(service) + ")")) {
        return false;
    }
    serviceInstalled = false;
    return true;
}

bool FakeWindows::CloseServiceHandle(win::ScHandle handle)
{
    const std::string name = HandleName(handle);
    EXPECT_NE(name, "unknown handle") << "closed a handle that is not open";
    if (CallFails("CloseServiceHandle(" + name + ")")) {
        return false;
    }
    openManagers_.erase(handle);
    openServices_.erase(handle);
    return true;
}

std::uint8_t FakeWindows::PortRead(win::DWord port)
{
    calls.push_back("DlPortReadPortUchar(" + Hex(port) + ")");
    return portReading;
}

void FakeWindows::PortWrite(win::DWord port, std::uint8_t value)
{
    calls.push_back("DlPortWritePortUchar(" + Hex(port) + ", " + Hex(value) + ")");
}

}  // namespace velkor::testing

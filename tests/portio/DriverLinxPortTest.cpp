// The port component on Windows, over a scripted Windows: which service
// manager and library calls it makes, in which order, with which access
// masks and paths, and what it records in LastError.
#include <gtest/gtest.h>

#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "FakeWindows.h"
#include "PortIO.h"
#include "WindowsDriverService.h"

namespace velkor {
namespace {

using testing::FakeWindows;
using Calls = std::vector<std::string>;

Calls Join(std::initializer_list<Calls> parts)
{
    Calls all;
    for (const Calls& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

const Calls kCreate = {"GetVersionExA(148)", "GetSystemDirectoryA(260)"};
const Calls kConnect = {"OpenSCManagerA(NULL, NULL, 0x17)"};
const Calls kFoundInstalled = {"OpenServiceA(DLPortIO, 0x4)", "CloseServiceHandle(service)"};
const Calls kInstall = {"OpenServiceA(DLPortIO, 0x4)",
                        "CreateServiceA(DLPortIO, DriverLINX Port I/O Driver, 0x10034, 1, 3, 1, "
                        "C:\\WINNT\\system32\\DRIVERS\\DLPortIO.SYS, SST miniport drivers, NULL, NULL, NULL, NULL)",
                        "CloseServiceHandle(service)"};
const Calls kQueryState = {"OpenServiceA(DLPortIO, 0x4)", "QueryServiceStatus(service)", "CloseServiceHandle(service)"};
const Calls kStart = {"OpenServiceA(DLPortIO, 0x10)", "StartServiceA(service, 0, NULL)", "CloseServiceHandle(service)"};
const Calls kStop = {"OpenServiceA(DLPortIO, 0x24)", "ControlService(service, 1)", "CloseServiceHandle(service)"};
const Calls kRemove = {"OpenServiceA(DLPortIO, 0x10000)", "DeleteService(service)", "CloseServiceHandle(service)"};
const Calls kDisconnect = {"CloseServiceHandle(manager)"};
const Calls kFree = {"FreeLibrary(DLPortIO.dll)"};

Calls LoadAndBind(const std::string& library = "DLPortIO.dll")
{
    Calls calls = {"LoadLibraryA(" + library + ")"};
    for (const char* name :
         {"DlPortReadPortUchar", "DlPortReadPortUshort", "DlPortReadPortUlong", "DlPortWritePortUchar",
          "DlPortWritePortUshort", "DlPortWritePortUlong", "DlPortReadPortBufferUchar", "DlPortReadPortBufferUshort",
          "DlPortReadPortBufferUlong", "DlPortWritePortBufferUchar", "DlPortWritePortBufferUshort",
          "DlPortWritePortBufferUlong"}) {
        calls.push_back(std::string("GetProcAddress(") + name + ")");
    }
    return calls;
}

// A service absent at the open: created, started, stopped and deleted.
const Calls kOpenCreatingTheService = Join({kConnect, kInstall, kQueryState, kStart, LoadAndBind()});
const Calls kCloseDeletingTheService = Join({kStop, kRemove, kDisconnect, kFree});

class DriverLinxPort : public ::testing::Test {
protected:
    TDLPortIO& Create()
    {
        port.emplace([this](PortIOFields& fields) {
            auto driver = std::make_unique<WindowsDriverService>(windows, fields);
            service = driver.get();
            return driver;
        });
        return *port;
    }

    // The calls made since the last time they were taken.
    Calls TakeCalls()
    {
        Calls taken;
        taken.swap(windows.calls);
        return taken;
    }

    TDLPortIO& OpenCreatingTheService()
    {
        Create().OpenDriver(0x378);
        EXPECT_EQ(TakeCalls(), Join({kCreate, kOpenCreatingTheService}));
        EXPECT_TRUE(port->ActiveHW());
        return *port;
    }

    FakeWindows windows;
    WindowsDriverService* service = nullptr;
    std::optional<TDLPortIO> port;
};

// ---- Creation -------------------------------------------------------------------

struct PlatformCase {
    const char* name;
    win::DWord platformId;
    bool versionCallFails;
    bool runningWinNT;
};

class DriverLinxPlatform : public DriverLinxPort, public ::testing::WithParamInterface<PlatformCase> {};

TEST_P(DriverLinxPlatform, CreateLearnsThePlatformAndSetsTheDefaults)
{
    windows.platformId = GetParam().platformId;
    if (GetParam().versionCallFails) {
        windows.Fail("GetVersionExA", 87);
    }
    Create();

    EXPECT_EQ(windows.calls, kCreate);
    EXPECT_EQ(service->RunningWinNT(), GetParam().runningWinNT);
    EXPECT_EQ(port->DriverPath(), "C:\\WINNT\\system32\\DRIVERS");
    EXPECT_EQ(port->DLLPath(), "");
    EXPECT_TRUE(port->HardAccess());
    EXPECT_FALSE(port->ActiveHW());
    EXPECT_EQ(port->LastError(), "");
}

INSTANTIATE_TEST_SUITE_P(, DriverLinxPlatform,
                         ::testing::Values(PlatformCase{"WindowsNT", win::kPlatformWin32NT, false, true},
                                           PlatformCase{"Windows98", 1, false, false},
                                           PlatformCase{"VersionUnknown", win::kPlatformWin32NT, true, false}),
                         [](const auto& info) { return info.param.name; });

// ---- An open and close pair, by the service that the open finds --------------------

struct ServiceCase {
    const char* name;
    bool installed;
    win::DWord state;
    Calls open;
    Calls close;
    bool wasInstalled;
    bool wasRunning;
    bool installedAfterwards;
};

class DriverLinxServiceFound : public DriverLinxPort, public ::testing::WithParamInterface<ServiceCase> {};

TEST_P(DriverLinxServiceFound, CloseUndoesExactlyWhatOpenDid)
{
    const ServiceCase& found = GetParam();
    windows.serviceInstalled = found.installed;
    windows.serviceState = found.state;
    Create();
    TakeCalls();

    port->OpenDriver(0x378);
    EXPECT_EQ(TakeCalls(), found.open);
    EXPECT_TRUE(port->ActiveHW());
    EXPECT_NE(service->SCMHandle(), nullptr);
    EXPECT_EQ(service->DriverWasInstalled(), found.wasInstalled);
    EXPECT_EQ(service->DriverWasRunning(), found.wasRunning);

    port->CloseDriver();
    EXPECT_EQ(TakeCalls(), found.close);
    EXPECT_FALSE(port->ActiveHW());
    EXPECT_EQ(service->SCMHandle(), nullptr);
    EXPECT_EQ(service->DLLHandle(), nullptr);
    EXPECT_EQ(windows.serviceInstalled, found.installedAfterwards);
    EXPECT_EQ(windows.serviceState, found.state);
    EXPECT_EQ(windows.OpenHandles(), 0u);
    EXPECT_EQ(port->LastError(), "");
}

INSTANTIATE_TEST_SUITE_P(, DriverLinxServiceFound,
                         ::testing::Values(ServiceCase{"Absent", false, win::kServiceStopped, kOpenCreatingTheService,
                                                       kCloseDeletingTheService, false, false, false},
                                           ServiceCase{
                                               "Stopped", true, win::kServiceStopped,
                                               Join({kConnect, kFoundInstalled, kQueryState, kStart, LoadAndBind()}),
                                               Join({kStop, kDisconnect, kFree}), true, false, true},
                                           ServiceCase{"Running", true, win::kServiceRunning,
                                                       Join({kConnect, kFoundInstalled, kQueryState, LoadAndBind()}),
                                                       Join({kDisconnect, kFree}), true, true, true}),
                         [](const auto& info) { return info.param.name; });

class DriverLinxServiceNotUsable : public DriverLinxPort, public ::testing::WithParamInterface<win::DWord> {};

// Pending or paused: neither started nor stopped nor deleted.
TEST_P(DriverLinxServiceNotUsable, OpenFailsAndLeavesTheServiceAlone)
{
    windows.serviceInstalled = true;
    windows.serviceState = GetParam();
    Create();
    TakeCalls();

    port->OpenDriver(0x378);
    EXPECT_EQ(TakeCalls(), Join({kConnect, kFoundInstalled, kQueryState, kDisconnect}));
    EXPECT_FALSE(port->ActiveHW());
    EXPECT_EQ(port->LastError(), "DriverStart: Error #4294967295");
    EXPECT_TRUE(windows.serviceInstalled);
    EXPECT_EQ(windows.serviceState, GetParam());
    EXPECT_EQ(windows.OpenHandles(), 0u);

    port->CloseDriver();
    EXPECT_EQ(TakeCalls(), Calls{});
}

// Start, stop and continue pending, pause pending, paused.
INSTANTIATE_TEST_SUITE_P(, DriverLinxServiceNotUsable, ::testing::Values(2u, 3u, 5u, 6u, 7u));

// ---- Outside the NT family: only the library ------------------------------------

TEST_F(DriverLinxPort, OutsideTheNtFamilyOnlyTheLibraryIsLoadedAndFreed)
{
    windows.platformId = 1;
    Create();
    TakeCalls();

    port->OpenDriver(0x378);
    EXPECT_EQ(TakeCalls(), LoadAndBind());
    EXPECT_TRUE(port->ActiveHW());
    port->CloseDriver();
    EXPECT_EQ(TakeCalls(), kFree);
    EXPECT_FALSE(port->ActiveHW());
}

struct LibraryPathCase {
    const char* name;
    const char* dllPath;
    const char* loaded;
};

class DriverLinxLibraryPath : public DriverLinxPort, public ::testing::WithParamInterface<LibraryPathCase> {};

TEST_P(DriverLinxLibraryPath, LoadsTheLibraryFromDllPath)
{
    windows.platformId = 1;
    Create().SetDLLPath(GetParam().dllPath);
    TakeCalls();

    port->OpenDriver(0x378);
    EXPECT_EQ(TakeCalls(), LoadAndBind(GetParam().loaded));
}

INSTANTIATE_TEST_SUITE_P(, DriverLinxLibraryPath,
                         ::testing::Values(LibraryPathCase{"SystemSearch", "", "DLPortIO.dll"},
                                           LibraryPathCase{"Folder", "C:\\Tools", "C:\\Tools\\DLPortIO.dll"},
                                           // No separator test: the separator doubles.
                                           LibraryPathCase{"FolderWithSeparator", "C:\\Tools\\",
                                                           "C:\\Tools\\\\DLPortIO.dll"}),
                         [](const auto& info) { return info.param.name; });

TEST_F(DriverLinxPort, ANewDriverPathIsTheFolderOfTheNextServiceCreated)
{
    Create().SetDriverPath("D:\\Port Drivers");
    TakeCalls();

    port->OpenDriver(0x378);
    const Calls calls = TakeCalls();
    ASSERT_GE(calls.size(), 3u);
    EXPECT_EQ(calls[2], "CreateServiceA(DLPortIO, DriverLINX Port I/O Driver, 0x10034, 1, 3, 1, "
                        "D:\\Port Drivers\\DLPortIO.SYS, SST miniport drivers, NULL, NULL, NULL, NULL)");
}

// ---- A library that cannot be used --------------------------------------------

TEST_F(DriverLinxPort, WithoutTheLastExportTheLibraryIsFreedAndNoTextIsLeft)
{
    windows.platformId = 1;
    windows.missingExports = {"DlPortWritePortBufferUlong"};
    Create();
    TakeCalls();

    port->OpenDriver(0x378);
    EXPECT_EQ(TakeCalls(), Join({LoadAndBind(), kFree}));
    EXPECT_FALSE(port->ActiveHW());
    EXPECT_EQ(service->DLLHandle(), nullptr);
    EXPECT_EQ(port->LastError(), "");
    EXPECT_EQ(port->OpenFailure(), "the port I/O library DLPortIO.dll lacks DlPortWritePortBufferUlong");
    EXPECT_EQ(windows.OpenHandles(), 0u);
}

TEST_F(DriverLinxPort, ALibraryMissingAnExportUndoesTheServiceItCreated)
{
    windows.missingExports = {"DlPortWritePortBufferUlong"};
    Create();
    TakeCalls();

    port->OpenDriver(0x378);
    EXPECT_EQ(TakeCalls(), Join({kOpenCreatingTheService, kStop, kRemove, kDisconnect, kFree}));
    EXPECT_FALSE(port->ActiveHW());
    EXPECT_FALSE(windows.serviceInstalled);
    EXPECT_EQ(windows.OpenHandles(), 0u);
}

TEST_F(DriverLinxPort, ALibraryThatDoesNotLoadUndoesTheServiceItCreated)
{
    windows.libraryPresent = false;
    Create();
    TakeCalls();

    port->OpenDriver(0x378);
    EXPECT_EQ(
        TakeCalls(),
        Join({kConnect, kInstall, kQueryState, kStart, {"LoadLibraryA(DLPortIO.dll)"}, kStop, kRemove, kDisconnect}));
    EXPECT_FALSE(port->ActiveHW());
    EXPECT_FALSE(windows.serviceInstalled);
    EXPECT_EQ(service->SCMHandle(), nullptr);
    EXPECT_EQ(port->LastError(), "");
}

TEST_F(DriverLinxPort, AFailingUndoStepLeavesItsOwnText)
{
    windows.libraryPresent = false;
    windows.Fail("ControlService", 1051);
    Create();
    TakeCalls();

    port->OpenDriver(0x378);
    EXPECT_EQ(
        TakeCalls(),
        Join({kConnect, kInstall, kQueryState, kStart, {"LoadLibraryA(DLPortIO.dll)"}, kStop, kRemove, kDisconnect}));
    EXPECT_EQ(port->LastError(), "DriverStop: Error #1051");
    EXPECT_FALSE(port->ActiveHW());
    // The command's message names the cause first.
    EXPECT_EQ(port->OpenFailure(),
              "the port I/O library DLPortIO.dll could not be loaded; undoing it failed too: DriverStop: Error #1051");
}

// ---- The service manager connection ----------------------------------------------

struct ConnectCase {
    const char* name;
    win::DWord firstError;
    win::DWord secondError;  // 0: the second attempt, where made, succeeds
    Calls managerCalls;
    const char* lastError;  // empty: the port opens
};

class DriverLinxConnect : public DriverLinxPort, public ::testing::WithParamInterface<ConnectCase> {};

TEST_P(DriverLinxConnect, ASecondAttemptWithoutCreateRightsFollowsOnlyAccessDenied)
{
    const ConnectCase& connect = GetParam();
    windows.serviceInstalled = true;
    windows.serviceState = win::kServiceRunning;
    windows.Fail("OpenSCManagerA(NULL, NULL, 0x17)", connect.firstError);
    if (connect.secondError != 0) {
        windows.Fail("OpenSCManagerA(NULL, NULL, 0x15)", connect.secondError);
    }
    Create();
    TakeCalls();

    port->OpenDriver(0x378);
    const Calls calls = TakeCalls();
    EXPECT_EQ(Calls(calls.begin(), calls.begin() + std::min(calls.size(), connect.managerCalls.size())),
              connect.managerCalls);
    EXPECT_EQ(port->LastError(), connect.lastError);
    EXPECT_EQ(port->ActiveHW(), std::string(connect.lastError).empty());
    if (!port->ActiveHW()) {
        EXPECT_EQ(calls, connect.managerCalls);
    }
}

INSTANTIATE_TEST_SUITE_P(
    , DriverLinxConnect,
    ::testing::Values(
        ConnectCase{"DeniedTwice",
                    5,
                    5,
                    {"OpenSCManagerA(NULL, NULL, 0x17)", "OpenSCManagerA(NULL, NULL, 0x15)"},
                    "ConnectSCM: Error #5"},
        ConnectCase{"DeniedThenOtherError",
                    5,
                    1722,
                    {"OpenSCManagerA(NULL, NULL, 0x17)", "OpenSCManagerA(NULL, NULL, 0x15)"},
                    "ConnectSCM: Error #1722"},
        ConnectCase{
            "OtherErrorNoSecondAttempt", 1115, 0, {"OpenSCManagerA(NULL, NULL, 0x17)"}, "ConnectSCM: Error #1115"},
        ConnectCase{
            "DeniedThenWithoutCreateRights",
            5,
            0,
            {"OpenSCManagerA(NULL, NULL, 0x17)", "OpenSCManagerA(NULL, NULL, 0x15)", "OpenServiceA(DLPortIO, 0x4)"},
            ""}),
    [](const auto& info) { return info.param.name; });

// ---- Each service step failing in turn -------------------------------------------

struct OpenStepFailure {
    const char* name;
    const char* call;
    int skip;  // matching calls that succeed first
    win::DWord code;
    const char* lastError;
    Calls calls;
    bool removeFails = false;  // undoing the created service fails as well
    const char* openFailure = lastError;
};

class DriverLinxOpenStepFails : public DriverLinxPort, public ::testing::WithParamInterface<OpenStepFailure> {};

TEST_P(DriverLinxOpenStepFails, OpenUndoesWhatItDidAndRecordsTheStep)
{
    const OpenStepFailure& failure = GetParam();
    windows.Fail(failure.call, failure.code, failure.skip);
    if (failure.removeFails) {
        windows.Fail("DeleteService", 1072);
    }
    Create();
    TakeCalls();

    port->OpenDriver(0x378);
    EXPECT_EQ(TakeCalls(), failure.calls);
    EXPECT_EQ(port->LastError(), failure.lastError);
    EXPECT_EQ(port->OpenFailure(), failure.openFailure);
    EXPECT_FALSE(port->ActiveHW());
    EXPECT_EQ(windows.serviceInstalled, failure.removeFails);
    EXPECT_EQ(windows.OpenHandles(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    , DriverLinxOpenStepFails,
    ::testing::Values(
        OpenStepFailure{"ConnectSCM", "OpenSCManagerA", 0, 1115, "ConnectSCM: Error #1115", kConnect},
        OpenStepFailure{"CreateService", "CreateServiceA", 0, 1078, "DriverInstall: Error #1078",
                        Join({kConnect, {kInstall[0], kInstall[1]}, kDisconnect})},
        OpenStepFailure{"StartOpen", "OpenServiceA(DLPortIO, 0x4)", 1, 6, "DriverStart: Error #6",
                        Join({kConnect, kInstall, {"OpenServiceA(DLPortIO, 0x4)"}, kRemove, kDisconnect})},
        OpenStepFailure{"QueryStatus", "QueryServiceStatus", 0, 6, "DriverStart: Error #6",
                        Join({kConnect, kInstall, kQueryState, kRemove, kDisconnect})},
        OpenStepFailure{
            "StartReopen", "OpenServiceA(DLPortIO, 0x10)", 0, 5, "DriverStart: Error #5",
            Join({kConnect, kInstall, kQueryState, {"OpenServiceA(DLPortIO, 0x10)"}, kRemove, kDisconnect})},
        OpenStepFailure{"StartService", "StartServiceA", 0, 2, "DriverStart: Error #2",
                        Join({kConnect, kInstall, kQueryState, kStart, kRemove, kDisconnect})},
        OpenStepFailure{"StartServiceThenDelete", "StartServiceA", 0, 2, "DriverRemove: Error #1072",
                        Join({kConnect, kInstall, kQueryState, kStart, kRemove, kDisconnect}), true,
                        "DriverStart: Error #2; undoing it failed too: DriverRemove: Error #1072"}),
    [](const auto& info) { return info.param.name; });

struct CloseStepFailure {
    const char* name;
    const char* call;
    win::DWord code;
    const char* lastError;
    Calls calls;
};

class DriverLinxCloseStepFails : public DriverLinxPort, public ::testing::WithParamInterface<CloseStepFailure> {};

TEST_P(DriverLinxCloseStepFails, CloseStopsAtTheStepAndThePortStaysOpen)
{
    const CloseStepFailure& failure = GetParam();
    OpenCreatingTheService();
    windows.Fail(failure.call, failure.code);

    port->CloseDriver();
    EXPECT_EQ(TakeCalls(), failure.calls);
    EXPECT_EQ(port->LastError(), failure.lastError);
    EXPECT_TRUE(port->ActiveHW());

    port->WritePortUchar(0x378, 0x84);
    EXPECT_EQ(port->ReadPortUchar(0x379), windows.portReading);
    port->OpenDriver(0x378);
    EXPECT_EQ(TakeCalls(), (Calls{"DlPortWritePortUchar(0x378, 0x84)", "DlPortReadPortUchar(0x379)"}));
}

INSTANTIATE_TEST_SUITE_P(
    , DriverLinxCloseStepFails,
    ::testing::Values(
        CloseStepFailure{
            "StopOpen", "OpenServiceA(DLPortIO, 0x24)", 5, "DriverStop: Error #5", {"OpenServiceA(DLPortIO, 0x24)"}},
        CloseStepFailure{"ControlService", "ControlService", 1061, "DriverStop: Error #1061", kStop},
        CloseStepFailure{"RemoveOpen", "OpenServiceA(DLPortIO, 0x10000)", 5, "DriverRemove: Error #5",
                         Join({kStop, {"OpenServiceA(DLPortIO, 0x10000)"}})},
        CloseStepFailure{"DeleteService", "DeleteService", 1072, "DriverRemove: Error #1072", Join({kStop, kRemove})},
        CloseStepFailure{"FreeLibrary", "FreeLibrary", 5, "", kCloseDeletingTheService}),
    [](const auto& info) { return info.param.name; });

TEST_F(DriverLinxPort, AfterAFailedStopTheNextCloseStartsAgainAndFinishes)
{
    OpenCreatingTheService();
    windows.Fail("ControlService", 1061);
    port->CloseDriver();
    TakeCalls();

    windows.failures.clear();
    port->CloseDriver();
    EXPECT_EQ(TakeCalls(), kCloseDeletingTheService);
    EXPECT_FALSE(port->ActiveHW());
    EXPECT_FALSE(windows.serviceInstalled);
    EXPECT_EQ(windows.OpenHandles(), 0u);
}

TEST_F(DriverLinxPort, LastErrorKeepsTheLastFailureThroughLaterSuccesses)
{
    windows.Fail("OpenSCManagerA", 1115);
    Create().OpenDriver(0x378);
    ASSERT_EQ(port->LastError(), "ConnectSCM: Error #1115");

    windows.failures.clear();
    port->OpenDriver(0x378);
    EXPECT_TRUE(port->ActiveHW());
    port->CloseDriver();
    EXPECT_FALSE(port->ActiveHW());
    EXPECT_EQ(port->LastError(), "ConnectSCM: Error #1115");
}

TEST_F(DriverLinxPort, TheReasonForAFailedOpenIsThatOpensOwnNotAnOlderText)
{
    windows.Fail("OpenSCManagerA", 1115);
    Create().OpenDriver(0x378);
    EXPECT_EQ(port->OpenFailure(), "ConnectSCM: Error #1115");

    // The library is missing now: that leaves no text, and the old one stays
    // in LastError, but is not given as the reason.
    windows.failures.clear();
    windows.libraryPresent = false;
    port->OpenDriver(0x378);
    EXPECT_FALSE(port->ActiveHW());
    EXPECT_EQ(port->LastError(), "ConnectSCM: Error #1115");
    EXPECT_EQ(port->OpenFailure(), "the port I/O library DLPortIO.dll could not be loaded");

    windows.libraryPresent = true;
    port->OpenDriver(0x378);
    EXPECT_TRUE(port->ActiveHW());
    EXPECT_EQ(port->OpenFailure(), "");
}

// Windows has no ppdev devices: such a port is refused before anything is
// opened, rather than opened at an address nobody named.
TEST_F(DriverLinxPort, APpdevDeviceIsRefusedWithoutAnyCall)
{
    Create().SetPpdevDevice(1);
    TakeCalls();

    port->OpenDriver(0);
    EXPECT_EQ(TakeCalls(), Calls{});
    EXPECT_FALSE(port->ActiveHW());
    EXPECT_EQ(port->OpenFailure(), "/dev/parport1 is a Linux ppdev device; on Windows name the port by its address");
}

// ---- The gates and the port operations -------------------------------------------

TEST_F(DriverLinxPort, OpeningAnOpenPortAndClosingAClosedOneCallNothing)
{
    Create();
    TakeCalls();
    port->CloseDriver();
    EXPECT_EQ(TakeCalls(), Calls{});

    OpenCreatingTheService().OpenDriver(0x278);
    EXPECT_EQ(TakeCalls(), Calls{});
}

TEST_F(DriverLinxPort, WhileClosedThePortOperationsCallNoLibrary)
{
    Create();
    TakeCalls();

    port->WritePortUchar(0x378, 0x84);
    EXPECT_EQ(port->ReadPortUchar(0x379), ClosedPort::kReading);
    EXPECT_EQ(TakeCalls(), Calls{});
}

TEST_F(DriverLinxPort, ThePortOperationsPassThroughTheBoundEntryPointsUnchanged)
{
    OpenCreatingTheService();
    windows.portReading = 0x87;

    port->WritePortUchar(0x3BC, 0x02);
    EXPECT_EQ(port->ReadPortUchar(0x3BD), 0x87);
    EXPECT_EQ(TakeCalls(), (Calls{"DlPortWritePortUchar(0x3BC, 0x2)", "DlPortReadPortUchar(0x3BD)"}));
}

TEST_F(DriverLinxPort, DestroyingAnOpenComponentClosesItFirst)
{
    OpenCreatingTheService();
    port.reset();
    EXPECT_EQ(TakeCalls(), kCloseDeletingTheService);
    EXPECT_FALSE(windows.serviceInstalled);
    EXPECT_EQ(windows.OpenHandles(), 0u);
}

}  // namespace
}  // namespace velkor

// Replacing a file whole on POSIX systems: what is left in the folder after
// each kind of replacement, run in a child process (for another user, or a
// file-size limit); paths where no file belongs; appends that meet. The
// program defines openat, fsync, renameat and fstat itself: the engine
// library is linked in, so its calls come here first, and are watched (or
// made to fail) before they go on to the C library.
#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "WholeFile.h"

namespace {

namespace fs = std::filesystem;

// What the watched calls saw, and what they are to do, in this process.
struct Watch {
    std::mutex mutex;
    std::optional<fs::path> plantLinkTo;  // the next exclusive creation finds a link to this at its name
    bool failFlush = false;
    std::map<int, std::string> temporaryOf;    // descriptor of an exclusive creation -> its name
    std::map<std::string, off_t> flushedSize;  // name -> its size when it was last flushed
    int renames = 0;
    int renamesUnflushed = 0;  // renamed with bytes that no fsync had seen
};

Watch watch;

// Run once, after the next fstat has looked at its file: another writer at
// that moment. Single-threaded tests only (fsync calls fstat under the lock).
std::function<void()> afterNextLook;

template <typename Function>
Function Next(const char* name)
{
    return reinterpret_cast<Function>(::dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" int openat(int folder, const char* path, int flags, ...)
{
    mode_t mode = 0;
    if ((flags & O_CREAT) != 0) {
        va_list arguments;
        va_start(arguments, flags);
        mode = static_cast<mode_t>(va_arg(arguments, unsigned));
        va_end(arguments);
    }
    const bool exclusive = (flags & (O_CREAT | O_EXCL)) == (O_CREAT | O_EXCL);
    const std::lock_guard lock(watch.mutex);
    if (exclusive && watch.plantLinkTo) {
        ::symlinkat(watch.plantLinkTo->c_str(), folder, path);
        watch.plantLinkTo.reset();
    }
    static const auto real = Next<int (*)(int, const char*, int, ...)>("openat");
    const int fd = real(folder, path, flags, mode);
    if (fd >= 0 && exclusive) {
        watch.temporaryOf[fd] = path;
    }
    return fd;
}

extern "C" int fsync(int fd)
{
    static const auto real = Next<int (*)(int)>("fsync");
    const std::lock_guard lock(watch.mutex);
    if (const auto temporary = watch.temporaryOf.find(fd); temporary != watch.temporaryOf.end()) {
        if (watch.failFlush) {
            errno = EIO;
            return -1;
        }
        struct stat status {};
        ::fstat(fd, &status);
        watch.flushedSize[temporary->second] = status.st_size;
        watch.temporaryOf.erase(temporary);
    }
    return real(fd);
}

extern "C" int renameat(int fromFolder, const char* from, int toFolder, const char* to)
{
    static const auto real = Next<int (*)(int, const char*, int, const char*)>("renameat");
    const std::lock_guard lock(watch.mutex);
    struct stat status {};
    ::fstatat(fromFolder, from, &status, AT_SYMLINK_NOFOLLOW);
    const auto flushed = watch.flushedSize.find(from);
    ++watch.renames;
    if (flushed == watch.flushedSize.end() || flushed->second != status.st_size) {
        ++watch.renamesUnflushed;
    }
    return real(fromFolder, from, toFolder, to);
}

extern "C" int fstat(int fd, struct stat* status)
{
    static const auto real = Next<int (*)(int, struct stat*)>("fstat");
    const int result = real(fd, status);
    if (const std::function<void()> other = std::exchange(afterNextLook, {})) {
        other();
    }
    return result;
}

namespace velkor {
namespace {

constexpr uid_t kNobody = 65534;
const std::string kOld = "old contents\n";
const std::string kVictim = "a file elsewhere\n";

struct Replacement {
    const char* name;
    std::string fileName = "out.hex";
    std::optional<mode_t> oldMode = 0644;  // none: there is no file yet
    std::optional<uid_t> oldOwner{};       // given away to this user first (root only)
    std::vector<std::string> plantedLinks{};
    bool linkAtTheTemporaryName = false;  // planted just before the writer creates it
    bool asNobody = false;                // the writer runs as another user than the file's
    rlim_t sizeLimit = RLIM_INFINITY;     // the writer's file-size limit, SIGXFSZ ignored
    bool flushFails = false;
    int writers = 1;                // at once, each with its own contents
    const char* refusal = nullptr;  // part of the reason; none when the file is replaced
    mode_t newMode = 0644;
};

void PrintTo(const Replacement& replacement, std::ostream* out)
{
    *out << replacement.name;
}

// The contents writer i writes: bigger than the size limit the cases set.
std::string Contents(int writer)
{
    return std::string(8192, static_cast<char>('a' + writer)) + '\n';
}

std::string ReadFile(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Runs the case's writers; gives the reasons of their failures, or says
// what the watched calls saw go wrong.
std::string WriteAsCase(const Replacement& replacement, const fs::path& target)
{
    ::umask(022);
    if (replacement.asNobody && (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)) {
        return "cannot become another user";
    }
    const rlimit limit{replacement.sizeLimit, replacement.sizeLimit};
    ::signal(SIGXFSZ, SIG_IGN);
    ::setrlimit(RLIMIT_FSIZE, &limit);
    watch.failFlush = replacement.flushFails;
    if (replacement.linkAtTheTemporaryName) {
        watch.plantLinkTo = target.parent_path() / "victim";
    }
    std::string failures;
    std::vector<std::thread> writers;
    for (int writer = 0; writer < replacement.writers; ++writer) {
        writers.emplace_back([&, writer] {
            try {
                WriteFileWhole(target, Contents(writer));
            } catch (const std::runtime_error& error) {
                const std::lock_guard lock(watch.mutex);
                failures += error.what();
            }
        });
    }
    for (std::thread& writer : writers) {
        writer.join();
    }
    if (failures.empty() && (watch.renames != replacement.writers || watch.renamesUnflushed != 0)) {
        return std::to_string(watch.renames) + " renames, " + std::to_string(watch.renamesUnflushed) +
               " of them before the data was flushed";
    }
    return failures;
}

// What WriteAsCase gives, run in a child process.
std::string WriteInChild(const Replacement& replacement, const fs::path& target)
{
    int results[2];
    if (::pipe(results) != 0) {
        return "pipe failed";
    }
    const pid_t child = ::fork();
    if (child == 0) {
        const std::string report = WriteAsCase(replacement, target);
        ::_exit(::write(results[1], report.data(), report.size()) == static_cast<ssize_t>(report.size()) ? 0 : 1);
    }
    ::close(results[1]);
    std::string report;
    char buffer[512];
    for (ssize_t length; (length = ::read(results[0], buffer, sizeof buffer)) > 0;) {
        report.append(buffer, static_cast<std::size_t>(length));
    }
    ::close(results[0]);
    ::waitpid(child, nullptr, 0);
    return report;
}

class TemporaryFolder : public ::testing::Test {
protected:
    void SetUp() override
    {
        char folderTemplate[] = "/tmp/velkor-whole-file-XXXXXX";
        ASSERT_NE(::mkdtemp(folderTemplate), nullptr);
        folder = folderTemplate;
        // Anyone may make files here: only the file's own permission bits
        // can keep another user from replacing it.
        fs::permissions(folder, fs::perms::all);
    }
    void TearDown() override { fs::remove_all(folder); }

    fs::path folder;
};

class WholeFileReplacement : public TemporaryFolder, public ::testing::WithParamInterface<Replacement> {};

TEST_P(WholeFileReplacement, LeavesTheOldFileOrTheNewOneAndNothingElse)
{
    const Replacement& replacement = GetParam();
    if ((replacement.asNobody || replacement.oldOwner || replacement.oldMode == 0444) && ::geteuid() != 0) {
        GTEST_SKIP() << "needs root, to act as another user or to write a read-only file";
    }
    const fs::path target = folder / replacement.fileName;
    std::ofstream(folder / "victim") << kVictim;
    if (replacement.oldMode) {
        std::ofstream(target) << kOld;
        ASSERT_EQ(::chmod(target.c_str(), *replacement.oldMode), 0);
    }
    if (replacement.oldOwner) {
        ASSERT_EQ(::chown(target.c_str(), *replacement.oldOwner, *replacement.oldOwner), 0);
    }
    for (const std::string& link : replacement.plantedLinks) {
        fs::create_symlink(folder / "victim", folder / link);
    }

    const std::string failures = WriteInChild(replacement, target);

    EXPECT_EQ(ReadFile(folder / "victim"), kVictim);
    std::set<std::string> links;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename();
        if (entry.is_symlink()) {
            links.insert(name);
        } else {
            EXPECT_TRUE(name == "victim" || name == replacement.fileName) << "left behind: " << name;
        }
    }
    EXPECT_EQ(links.size(), replacement.plantedLinks.size() + (replacement.linkAtTheTemporaryName ? 1 : 0));
    struct stat status {};
    ASSERT_EQ(::lstat(target.c_str(), &status), 0);
    if (replacement.refusal != nullptr) {
        EXPECT_NE(failures.find(replacement.refusal), std::string::npos) << failures;
        EXPECT_EQ(ReadFile(target), kOld);
        EXPECT_EQ(status.st_mode & 07777, replacement.oldMode);
        return;
    }
    EXPECT_EQ(failures, "");
    std::set<std::string> written;
    for (int writer = 0; writer < replacement.writers; ++writer) {
        written.insert(Contents(writer));
    }
    EXPECT_TRUE(written.contains(ReadFile(target)));
    EXPECT_EQ(status.st_mode & 07777, replacement.newMode);
    EXPECT_EQ(status.st_uid, replacement.oldOwner.value_or(::geteuid()));
}

INSTANTIATE_TEST_SUITE_P(
    , WholeFileReplacement,
    ::testing::Values(
        Replacement{.name = "ANewFileGetsTheUsualMode", .oldMode = std::nullopt},
        Replacement{.name = "KeepsItsMode", .oldMode = 0640, .newMode = 0640},
        Replacement{.name = "AReadOnlyFileStaysReadOnly", .oldMode = 0444, .newMode = 0444},
        Replacement{.name = "AnotherUsersFileKeepsItsOwner", .oldOwner = kNobody},
        Replacement{.name = "PlantedLinksAreNeverFollowed",
                    .plantedLinks = {"out.hex.tmp", ".out.hex.tmp", "out.hex.lock"},
                    .linkAtTheTemporaryName = true},
        Replacement{.name = "AFileTheUserMayNotWriteIsRefused", .asNobody = true, .refusal = "Permission denied"},
        Replacement{.name = "ConcurrentWritersAllSucceed", .writers = 12},
        Replacement{.name = "ANameOfTheLongestLength", .fileName = std::string(248, 'x') + ".hex"},
        Replacement{.name = "AFileSizeLimitLeavesTheOldFile", .sizeLimit = 4096, .refusal = "File too large"},
        Replacement{.name = "AFailedFlushLeavesTheOldFile", .flushFails = true, .refusal = "Input/output error"}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- paths where no file belongs ------------------------------------------

struct NotAFile {
    const char* name;
    void (*make)(const fs::path& at);
    const char* reason;
};

void PrintTo(const NotAFile& place, std::ostream* out)
{
    *out << place.name;
}

void MakeFifo(const fs::path& at)
{
    ASSERT_EQ(::mkfifo(at.c_str(), 0644), 0);
}

void MakeSocket(const fs::path& at)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", at.c_str());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ::close(fd);  // the socket's node stays
}

void LinkToDevice(const fs::path& at)
{
    fs::create_symlink("/dev/null", at);
}

void LinkToFifo(const fs::path& at)
{
    MakeFifo(at.parent_path() / "fifo");
    fs::create_symlink(at.parent_path() / "fifo", at);
}

void MakeFolder(const fs::path& at)
{
    fs::create_directory(at);
}

class NoPlaceForAFile : public TemporaryFolder, public ::testing::WithParamInterface<NotAFile> {};

// Replacing it would put a plain file where a device or a FIFO was;
// appending would wait for a FIFO's reader or write to the device. A new
// file takes the next name.
TEST_P(NoPlaceForAFile, IsRefusedWithItsReasonAndLeftAsItWas)
{
    const fs::path target = folder / "out.hex";
    GetParam().make(target);
    const fs::file_type before = fs::symlink_status(target).type();
    for (const auto& write : std::vector<std::function<void()>>{
             [&] { WriteFileWhole(target, "new"); },
             [&] { AppendToFile(target, "line\n", "header\n"); },
             [&] { CheckOutputFile(target); },
         }) {
        try {
            write();
            ADD_FAILURE() << "not refused";
        } catch (const std::runtime_error& error) {
            EXPECT_EQ(error.what(), "cannot write " + target.string() + ": it is " + GetParam().reason);
        }
        EXPECT_EQ(fs::symlink_status(target).type(), before);
    }
    EXPECT_EQ(WriteNewFile(target, "new"), folder / "out-2.hex");
    EXPECT_EQ(ReadFile(folder / "out-2.hex"), "new");
    std::set<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
        names.insert(entry.path().filename());
    }
    names.erase("fifo");
    EXPECT_EQ(names, (std::set<std::string>{"out.hex", "out-2.hex"}));
}

INSTANTIATE_TEST_SUITE_P(, NoPlaceForAFile,
                         ::testing::Values(NotAFile{"Fifo", MakeFifo, "a FIFO, not a regular file"},
                                           NotAFile{"Socket", MakeSocket, "a socket, not a regular file"},
                                           NotAFile{"LinkToADevice", LinkToDevice, "a device, not a regular file"},
                                           NotAFile{"LinkToAFifo", LinkToFifo, "a FIFO, not a regular file"},
                                           NotAFile{"Folder", MakeFolder, "a folder"}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- appends that meet -------------------------------------------------------

// Another run appends to the new file between this one's opening it and its
// look at the size: the header goes in once, before both lines.
TEST_F(TemporaryFolder, ANewFileAppendedToByTwoGetsOneHeader)
{
    const fs::path record = folder / "record.csv";
    afterNextLook = [&] { AppendToFile(record, "other\n", "header\n"); };
    AppendToFile(record, "mine\n", "header\n");
    EXPECT_EQ(ReadFile(record), "header\nother\nmine\n");
}

// Each new file of concurrent writers gets a name of its own.
TEST_F(TemporaryFolder, ConcurrentNewFilesEachGetANameOfTheirOwn)
{
    std::vector<std::thread> writers;
    std::mutex mutex;
    std::set<fs::path> files;
    for (int writer = 0; writer < 8; ++writer) {
        writers.emplace_back([&, writer] {
            const fs::path file = WriteNewFile(folder / "copy.hex", Contents(writer));
            const std::lock_guard lock(mutex);
            files.insert(file);
        });
    }
    for (std::thread& writer : writers) {
        writer.join();
    }
    EXPECT_EQ(files.size(), 8u);
    std::set<std::string> contents;
    for (const fs::path& file : files) {
        contents.insert(ReadFile(file));
    }
    EXPECT_EQ(contents.size(), 8u);
}

}  // namespace
}  // namespace velkor

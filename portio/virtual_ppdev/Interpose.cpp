// The preloaded face of the virtual ppdev port. Loaded with LD_PRELOAD, it
// stands in for the C library's open, fopen, close, ioctl and ioperm: the
// parallel port's nodes are answered by VirtualPpdev, everything else goes on
// to the real functions. The port comes to life the first time a program
// touches a parallel port node, so a program that never does is left alone.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/io.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

#include "VirtualPpdev.h"

namespace {

using velkor::sim::VirtualPpdev;
using velkor::sim::VirtualPpdevConfig;

template <typename Function>
Function Next(const char* name)
{
    return reinterpret_cast<Function>(::dlsym(RTLD_NEXT, name));
}

std::atomic<bool> sessionLive{false};

// The virtual port of this process, made from the environment.
struct Session {
    Session()
    {
        try {
            port = std::make_unique<VirtualPpdev>(VirtualPpdevConfig::FromEnvironment());
        } catch (const std::exception& error) {
            std::fprintf(stderr, "velkor virtual ppdev: %s\n", error.what());
        }
        sessionLive = true;
    }
    // Saves the chip's state and the statistics as the program ends.
    ~Session()
    {
        sessionLive = false;
        const std::lock_guard lock(mutex);
        port.reset();
    }

    std::mutex mutex;
    std::unique_ptr<VirtualPpdev> port;  // none when the configuration was unusable
};

Session& TheSession()
{
    static Session session;
    return session;
}

bool WantsMode(int flags)
{
    return (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE;
}

// An in-memory file stands for the node, so that read, fstat and fdopen work
// on it as usual; ioctl on the device's is answered by the virtual port.
int OpenVirtualNode(const char* path, int flags)
{
    Session& session = TheSession();
    const std::lock_guard lock(session.mutex);
    if (!session.port) {
        errno = ENXIO;
        return -1;
    }
    const VirtualPpdev::Node node = session.port->Classify(path);
    if (const int error = session.port->OpenError(node)) {
        errno = error;
        return -1;
    }
    const int fd = ::memfd_create("velkor-virtual-parport", (flags & O_CLOEXEC) != 0 ? MFD_CLOEXEC : 0);
    if (fd < 0) {
        return -1;
    }
    if (node != VirtualPpdev::Node::Device) {
        const std::string text = session.port->NodeText(node);
        if (::write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size()) ||
            ::lseek(fd, 0, SEEK_SET) != 0) {
            ::close(fd);
            return -1;
        }
    } else {
        session.port->Opened(fd);
    }
    return fd;
}

template <typename RealOpen>
int OpenPath(const char* path, int flags, RealOpen realOpen)
{
    if (path != nullptr && VirtualPpdev::IsParallelPortNode(path)) {
        return OpenVirtualNode(path, flags);
    }
    return realOpen();
}

mode_t ModeArgument(int flags, va_list& arguments)
{
    return WantsMode(flags) ? static_cast<mode_t>(va_arg(arguments, unsigned)) : 0;
}

void ForgetIfVirtual(int fd)
{
    if (!sessionLive) {
        return;
    }
    Session& session = TheSession();
    const std::lock_guard lock(session.mutex);
    if (session.port && session.port->Owns(fd)) {
        session.port->Closed(fd);
    }
}

FILE* OpenStream(const char* path, const char* mode, const char* realName)
{
    using Fopen = FILE* (*)(const char*, const char*);
    if (path != nullptr && mode != nullptr) {
        if (VirtualPpdev::IsParallelPortNode(path)) {
            const bool readOnly = mode[0] == 'r' && std::strchr(mode, '+') == nullptr;
            const int flags = (readOnly ? O_RDONLY : O_RDWR) | (std::strchr(mode, 'e') ? O_CLOEXEC : 0);
            const int fd = OpenVirtualNode(path, flags);
            if (fd < 0) {
                return nullptr;
            }
            FILE* stream = ::fdopen(fd, mode);
            if (stream == nullptr) {
                ForgetIfVirtual(fd);
                ::close(fd);
            }
            return stream;
        }
    }
    static const auto realFopen = Next<Fopen>(realName);
    return realFopen(path, mode);
}

template <typename RealOpenAt>
int OpenAtPath(int dirfd, const char* path, int flags, mode_t mode, const char* realName)
{
    static const auto realOpenAt = Next<RealOpenAt>(realName);
    // Only absolute paths can name the port's nodes.
    const char* virtualPath = path != nullptr && path[0] == '/' ? path : nullptr;
    return OpenPath(virtualPath, flags, [&] { return realOpenAt(dirfd, path, flags, mode); });
}

}  // namespace

extern "C" {

int open(const char* path, int flags, ...)
{
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = ModeArgument(flags, arguments);
    va_end(arguments);
    static const auto realOpen = Next<int (*)(const char*, int, ...)>("open");
    return OpenPath(path, flags, [&] { return realOpen(path, flags, mode); });
}

int open64(const char* path, int flags, ...)
{
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = ModeArgument(flags, arguments);
    va_end(arguments);
    static const auto realOpen = Next<int (*)(const char*, int, ...)>("open64");
    return OpenPath(path, flags, [&] { return realOpen(path, flags, mode); });
}

// What fortified builds of other programs call in place of open.
int __open_2(const char* path, int flags)
{
    static const auto realOpen = Next<int (*)(const char*, int)>("__open_2");
    return OpenPath(path, flags, [&] { return realOpen(path, flags); });
}

int __open64_2(const char* path, int flags)
{
    static const auto realOpen = Next<int (*)(const char*, int)>("__open64_2");
    return OpenPath(path, flags, [&] { return realOpen(path, flags); });
}

int openat(int dirfd, const char* path, int flags, ...)
{
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = ModeArgument(flags, arguments);
    va_end(arguments);
    return OpenAtPath<int (*)(int, const char*, int, ...)>(dirfd, path, flags, mode, "openat");
}

int openat64(int dirfd, const char* path, int flags, ...)
{
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = ModeArgument(flags, arguments);
    va_end(arguments);
    return OpenAtPath<int (*)(int, const char*, int, ...)>(dirfd, path, flags, mode, "openat64");
}

FILE* fopen(const char* path, const char* mode)
{
    return OpenStream(path, mode, "fopen");
}

FILE* fopen64(const char* path, const char* mode)
{
    return OpenStream(path, mode, "fopen64");
}

int fclose(FILE* stream)
{
    static const auto realFclose = Next<int (*)(FILE*)>("fclose");
    if (stream != nullptr) {
        ForgetIfVirtual(::fileno(stream));
    }
    return realFclose(stream);
}

int close(int fd)
{
    static const auto realClose = Next<int (*)(int)>("close");
    ForgetIfVirtual(fd);
    return realClose(fd);
}

int ioctl(int fd, unsigned long request, ...) noexcept
{
    va_list arguments;
    va_start(arguments, request);
    void* argument = va_arg(arguments, void*);
    va_end(arguments);
    if (sessionLive) {
        Session& session = TheSession();
        const std::lock_guard lock(session.mutex);
        if (session.port && session.port->Owns(fd)) {
            const int result = session.port->Ioctl(fd, request, argument);
            if (result < 0) {
                errno = -result;
                return -1;
            }
            return 0;
        }
    }
    static const auto realIoctl = Next<int (*)(int, unsigned long, ...)>("ioctl");
    return realIoctl(fd, request, argument);
}

// Raw port I/O would reach the machine's real ports, behind the virtual
// one's back: refused, as for a process without CAP_SYS_RAWIO.
int ioperm(unsigned long, unsigned long, int) noexcept
{
    errno = EPERM;
    return -1;
}

int iopl(int) noexcept
{
    errno = EPERM;
    return -1;
}

}  // extern "C"

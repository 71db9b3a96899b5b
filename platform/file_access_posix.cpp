#include "platform/file_access.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarvelle {

namespace {

// Linux moves at most this much per read or write call.
constexpr std::size_t maxTransferBytes = 0x7ffff000;

int descriptorOf(const FileHandle& file)
{
    return static_cast<int>(file.native());
}

enum class LockKind { Shared, Exclusive };

// Whether a POSIX record lock (fcntl, lockf) of another program stands in the
// way of a lock of this kind over the whole file. Such locks are only tested,
// never taken: one is dropped whenever any descriptor of its file in the
// process is closed, so it could not be held reliably.
bool recordLockInTheWay(int descriptor, LockKind kind)
{
    struct flock probe {};
    probe.l_type = kind == LockKind::Shared ? F_RDLCK : F_WRLCK;
    probe.l_whence = SEEK_SET;
    probe.l_start = 0;
    probe.l_len = 0; // to the end, however far it grows
    if (::fcntl(descriptor, F_GETLK, &probe) != 0) {
        // Not known on this file system: nothing to honour.
        return false;
    }
    return probe.l_type != F_UNLCK;
}

// O_NONBLOCK keeps a FIFO from stalling the open; the regular-file test
// below then turns it away. Fails with EWOULDBLOCK when another program holds
// a lock in the way.
std::optional<FileHandle> openLockedRegularFile(const std::string& fileName, int flags, LockKind kind)
{
    int descriptor = -1;
    do {
        descriptor = ::open(fileName.c_str(), flags | O_NONBLOCK | O_CLOEXEC, 0666);
    } while (descriptor < 0 && errno == EINTR);
    if (descriptor < 0) {
        return std::nullopt;
    }
    FileHandle file(descriptor);
    struct stat status {};
    if (::fstat(descriptor, &status) != 0) {
        return std::nullopt;
    }
    if (!S_ISREG(status.st_mode)) {
        closeFile(file);
        errno = S_ISDIR(status.st_mode) ? EISDIR : EINVAL;
        return std::nullopt;
    }
    if (::flock(descriptor, (kind == LockKind::Shared ? LOCK_SH : LOCK_EX) | LOCK_NB) != 0) {
        return std::nullopt;
    }
    if (recordLockInTheWay(descriptor, kind)) {
        closeFile(file);
        errno = EWOULDBLOCK;
        return std::nullopt;
    }
    const int statusFlags = ::fcntl(descriptor, F_GETFL);
    if (statusFlags < 0 || ::fcntl(descriptor, F_SETFL, statusFlags & ~O_NONBLOCK) != 0) {
        return std::nullopt;
    }
    return file;
}

} // namespace

bool checkReplaceableOutput(const std::string& fileName, std::optional<FileHandle>& held)
{
    struct stat status {};
    if (::lstat(fileName.c_str(), &status) != 0) {
        return errno == ENOENT;
    }
    if (S_ISLNK(status.st_mode)) {
        return true;
    }
    // A file the user may not write stays as it is, as when outputs were
    // written in place; rename alone would replace it.
    if (S_ISREG(status.st_mode) && ::access(fileName.c_str(), W_OK) != 0) {
        return false;
    }
    // O_NOFOLLOW: a link planted since the lstat is not followed either.
    held = openLockedRegularFile(fileName, O_RDONLY | O_NOFOLLOW, LockKind::Exclusive);
    return held.has_value() || errno == ELOOP;
}

bool replaceFile(const std::string& from, const std::string& to)
{
    return ::rename(from.c_str(), to.c_str()) == 0;
}

bool removeFile(const std::string& fileName)
{
    return ::unlink(fileName.c_str()) == 0;
}

std::string folderOf(const std::string& fileName)
{
    const std::size_t separator = fileName.rfind('/');
    return separator == std::string::npos ? std::string() : fileName.substr(0, separator + 1);
}

std::uint32_t processNumber()
{
    return static_cast<std::uint32_t>(::getpid());
}

std::variant<FileHandle, InputOpenFailure> tryOpenInputFile(const std::string& fileName)
{
    std::optional<FileHandle> file = openLockedRegularFile(fileName, O_RDONLY, LockKind::Shared);
    if (file) {
        return std::move(*file);
    }
    return errno == EWOULDBLOCK ? InputOpenFailure::InUse : InputOpenFailure::NotOpened;
}

std::optional<FileHandle> openInputFile(const std::string& fileName)
{
    std::variant<FileHandle, InputOpenFailure> opened = tryOpenInputFile(fileName);
    if (FileHandle* file = std::get_if<FileHandle>(&opened)) {
        return std::move(*file);
    }
    return std::nullopt;
}

std::optional<std::uint64_t> fileSize(const FileHandle& file)
{
    struct stat status {};
    if (::fstat(descriptorOf(file), &status) != 0 || status.st_size < 0) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(status.st_size);
}

std::optional<std::size_t> readAt(const FileHandle& file, std::uint64_t offset, void* buffer,
                                  std::size_t byteCount)
{
    auto* destination = static_cast<unsigned char*>(buffer);
    std::size_t bytesRead = 0;
    while (bytesRead < byteCount) {
        const std::size_t request = std::min(byteCount - bytesRead, maxTransferBytes);
        const ssize_t result =
            ::pread(descriptorOf(file), destination + bytesRead, request, static_cast<off_t>(offset + bytesRead));
        if (result < 0) {
            if (errno == EINTR) {
                continue;
            }
            return std::nullopt;
        }
        if (result == 0) {
            break;
        }
        bytesRead += static_cast<std::size_t>(result);
    }
    return bytesRead;
}

bool writeAll(const FileHandle& file, const void* bytes, std::size_t byteCount)
{
    const auto* source = static_cast<const unsigned char*>(bytes);
    std::size_t bytesWritten = 0;
    while (bytesWritten < byteCount) {
        const std::size_t request = std::min(byteCount - bytesWritten, maxTransferBytes);
        const ssize_t result = ::write(descriptorOf(file), source + bytesWritten, request);
        if (result < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (result == 0) {
            errno = EIO;
            return false;
        }
        bytesWritten += static_cast<std::size_t>(result);
    }
    return true;
}

std::optional<std::size_t> readStandardInput(void* buffer, std::size_t byteCount)
{
    for (;;) {
        const ssize_t result = ::read(STDIN_FILENO, buffer, std::min(byteCount, maxTransferBytes));
        if (result >= 0) {
            return static_cast<std::size_t>(result);
        }
        if (errno != EINTR) {
            return std::nullopt;
        }
    }
}

bool writeAt(const FileHandle& file, std::uint64_t offset, const void* bytes, std::size_t byteCount)
{
    return ::lseek(descriptorOf(file), static_cast<off_t>(offset), SEEK_SET) >= 0 &&
           writeAll(file, bytes, byteCount);
}

bool closeFile(FileHandle& file)
{
    if (!file.isOpen()) {
        return true;
    }
    // Not retried on EINTR: on Linux the descriptor is gone either way.
    return ::close(static_cast<int>(file.release())) == 0;
}

std::string lastFileErrorText()
{
    // This layer's only EWOULDBLOCK is a lock (flock, record lock or lease)
    // of another program, which the system's "Resource temporarily
    // unavailable" does not tell the user.
    if (errno == EWOULDBLOCK) {
        return "Locked by another program";
    }
    return std::strerror(errno);
}

std::optional<FileIdentity> fileIdentity(const std::string& fileName)
{
    struct stat status {};
    if (::stat(fileName.c_str(), &status) != 0) {
        return std::nullopt;
    }
    return FileIdentity{static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino)};
}

std::optional<FileIdentity> fileIdentity(const FileHandle& file)
{
    struct stat status {};
    if (::fstat(descriptorOf(file), &status) != 0) {
        return std::nullopt;
    }
    return FileIdentity{static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino)};
}

bool isFolder(const std::string& name)
{
    struct stat status {};
    return ::stat(name.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

} // namespace tarvelle

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

// O_NONBLOCK keeps a FIFO from stalling the open; the regular-file test
// below then turns it away.
std::optional<FileHandle> openLockedRegularFile(const std::string& fileName, int flags)
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
    if (::flock(descriptor, LOCK_EX | LOCK_NB) != 0) {
        return std::nullopt;
    }
    const int statusFlags = ::fcntl(descriptor, F_GETFL);
    if (statusFlags < 0 || ::fcntl(descriptor, F_SETFL, statusFlags & ~O_NONBLOCK) != 0) {
        return std::nullopt;
    }
    return file;
}

} // namespace

std::optional<FileHandle> openInputFile(const std::string& fileName)
{
    return openLockedRegularFile(fileName, O_RDONLY);
}

std::optional<FileHandle> openOutputFile(const std::string& fileName)
{
    // No O_TRUNC: an existing file is emptied only once it is ours.
    std::optional<FileHandle> file = openLockedRegularFile(fileName, O_WRONLY | O_CREAT);
    if (file && ::ftruncate(descriptorOf(*file), 0) != 0) {
        return std::nullopt;
    }
    return file;
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

bool isFolder(const std::string& name)
{
    struct stat status {};
    return ::stat(name.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

} // namespace tarvelle

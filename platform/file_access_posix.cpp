#include "platform/file_access.hpp"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
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

// The temporary file to remove when the program is ended by a signal. The
// name is copied before the file is created, so the handler only unlinks and
// no signal can come between the creation and the registration.
std::atomic<char*> pendingTemporaryName{nullptr};

constexpr int cleanedUpSignals[] = {SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGPIPE};
constexpr std::size_t cleanedUpSignalCount = sizeof cleanedUpSignals / sizeof cleanedUpSignals[0];
struct sigaction actionsBeforeCleanup[cleanedUpSignalCount];

// Ours run before any found earlier (the console's restore), which then still
// run.
extern "C" void removePendingAndReraise(int signalNumber)
{
    const int savedErrno = errno;
    removeTemporaryFileOnStop();
    // The action found before ours (the default, or the console's restore)
    // takes the signal once this handler returns and unblocks it.
    for (std::size_t index = 0; index < cleanedUpSignalCount; ++index) {
        if (cleanedUpSignals[index] == signalNumber) {
            ::sigaction(signalNumber, &actionsBeforeCleanup[index], nullptr);
        }
    }
    ::raise(signalNumber);
    errno = savedErrno;
}

void installCleanupHandlersOnce()
{
    static const bool installed = [] {
        struct sigaction action {};
        action.sa_handler = removePendingAndReraise;
        sigfillset(&action.sa_mask);
        for (std::size_t index = 0; index < cleanedUpSignalCount; ++index) {
            ::sigaction(cleanedUpSignals[index], nullptr, &actionsBeforeCleanup[index]);
            // An ignored signal (nohup) ends nothing, so it stays ignored.
            if (actionsBeforeCleanup[index].sa_handler != SIG_IGN) {
                ::sigaction(cleanedUpSignals[index], &action, nullptr);
            }
        }
        return true;
    }();
    (void)installed;
}

} // namespace

std::optional<FileHandle> createTemporaryFile(const std::string& fileName)
{
    installCleanupHandlersOnce();
    char* copy = new char[fileName.size() + 1];
    std::memcpy(copy, fileName.c_str(), fileName.size() + 1);
    delete[] pendingTemporaryName.exchange(copy);

    int descriptor = -1;
    do {
        descriptor = ::open(fileName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    } while (descriptor < 0 && errno == EINTR);
    if (descriptor < 0) {
        // Whatever stands at the name is someone else's: not ours to remove.
        const int openError = errno;
        forgetTemporaryFile();
        errno = openError;
        return std::nullopt;
    }
    FileHandle file(descriptor);
    if (::flock(descriptor, LOCK_EX | LOCK_NB) != 0) {
        // Ours, though taken by another program already: not left behind.
        const int lockError = errno;
        closeFile(file);
        ::unlink(fileName.c_str());
        forgetTemporaryFile();
        errno = lockError;
        return std::nullopt;
    }
    return file;
}

void forgetTemporaryFile()
{
    delete[] pendingTemporaryName.exchange(nullptr);
}

void removeTemporaryFileOnStop()
{
    if (const char* name = pendingTemporaryName.load()) {
        ::unlink(name);
    }
}

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
    held = openLockedRegularFile(fileName, O_RDONLY | O_NOFOLLOW);
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

std::optional<FileHandle> openInputFile(const std::string& fileName)
{
    return openLockedRegularFile(fileName, O_RDONLY);
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

#include "platform/file_access.hpp"
#include "platform/stop_handlers.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <pthread.h>
#include <sched.h>
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

// The registered temporary files, for the stop step, which may run on any
// thread at any moment. A slot's name is written while it is Claimed, read by
// a stop only after it took the slot from Armed to Removing, and freed only
// by its owner once no stop can be reading it.
// Set by the first stop: a file armed after it removes itself.
std::atomic<bool> stopBegun{false};

enum class SlotState : unsigned char {
    Free,
    Claimed,  // its owner is filling it in or emptying it
    Armed,    // the file exists under name; a stop removes it
    Removing, // a stop is removing it
    Removed,  // a stop removed it; its owner still has to empty the slot
};

struct TemporarySlot {
    std::atomic<SlotState> state{SlotState::Free};
    char* name = nullptr;
};

std::array<TemporarySlot, temporaryFileSlotCount> temporarySlots;

// The program is ending: from now on a file armed removes itself.
void removeOnStop()
{
    stopBegun.store(true);
    removeTemporaryFilesOnStop();
}

// The name copied into a claimed slot before the file is made, so the stop
// step allocates nothing. nullopt when every slot is taken. The copy is made
// first: an allocation that fails leaves no slot claimed.
std::optional<std::size_t> claimSlot(const std::string& fileName)
{
    auto name = std::make_unique<char[]>(fileName.size() + 1);
    std::memcpy(name.get(), fileName.c_str(), fileName.size() + 1);
    for (std::size_t index = 0; index < temporarySlots.size(); ++index) {
        SlotState expected = SlotState::Free;
        if (temporarySlots[index].state.compare_exchange_strong(expected, SlotState::Claimed)) {
            temporarySlots[index].name = name.release();
            return index;
        }
    }
    return std::nullopt;
}

// Takes the slot back from Armed or Removed; while a stop on another thread
// is removing its file, waits for that, which is short and then ends the
// process anyway.
void emptySlot(std::size_t index)
{
    TemporarySlot& slot = temporarySlots[index];
    for (;;) {
        SlotState state = slot.state.load();
        if (state == SlotState::Removing) {
            ::sched_yield();
            continue;
        }
        if (state == SlotState::Claimed || slot.state.compare_exchange_strong(state, SlotState::Claimed)) {
            break;
        }
    }
    delete[] slot.name;
    slot.name = nullptr;
    slot.state.store(SlotState::Free);
}

// No signal on this thread comes between the creation of a file and its
// registration: a stop either finds the file armed or does not find it made.
class SignalsDeferred {
public:
    SignalsDeferred()
    {
        sigset_t all;
        sigfillset(&all);
        ::pthread_sigmask(SIG_BLOCK, &all, &before_);
    }
    ~SignalsDeferred() { ::pthread_sigmask(SIG_SETMASK, &before_, nullptr); }
    SignalsDeferred(const SignalsDeferred&) = delete;
    SignalsDeferred& operator=(const SignalsDeferred&) = delete;

private:
    sigset_t before_{};
};

} // namespace

TemporaryFile createTemporaryFile(const std::string& fileName)
{
    setStopAction(StopStep::RemoveTemporaryFiles, removeOnStop);
    TemporaryFile created;
    const std::optional<std::size_t> index = claimSlot(fileName);
    if (!index) {
        errno = EMFILE;
        return created;
    }
    int descriptor = -1;
    int openError = 0;
    {
        const SignalsDeferred deferred;
        do {
            descriptor = ::open(fileName.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        } while (descriptor < 0 && errno == EINTR);
        openError = errno;
        if (descriptor >= 0) {
            temporarySlots[*index].state.store(SlotState::Armed);
            // A stop on another thread may have looked at this slot before it
            // was armed: then the file is removed here, as the stop would have.
            if (stopBegun.load()) {
                removeTemporaryFilesOnStop();
            }
        }
    }
    if (descriptor < 0) {
        // Whatever stands at the name is someone else's: not ours to remove.
        emptySlot(*index);
        created.status = openError == EEXIST ? TemporaryFileStatus::NameTaken : TemporaryFileStatus::Failed;
        errno = openError;
        return created;
    }
    FileHandle file(descriptor);
    if (::flock(descriptor, LOCK_EX | LOCK_NB) != 0) {
        // Ours, though taken by another program already: not left behind.
        const int lockError = errno;
        closeFile(file);
        ::unlink(fileName.c_str());
        emptySlot(*index);
        errno = lockError;
        return created;
    }
    created.status = TemporaryFileStatus::Created;
    created.file = std::move(file);
    created.slot = static_cast<TemporaryFileSlot>(*index);
    return created;
}

void forgetTemporaryFile(TemporaryFileSlot slot)
{
    const int savedErrno = errno;
    emptySlot(static_cast<std::size_t>(slot));
    errno = savedErrno;
}

void removeTemporaryFilesOnStop()
{
    for (TemporarySlot& slot : temporarySlots) {
        SlotState expected = SlotState::Armed;
        if (slot.state.compare_exchange_strong(expected, SlotState::Removing)) {
            ::unlink(slot.name);
            slot.state.store(SlotState::Removed);
        }
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

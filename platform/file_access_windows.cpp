#include "platform/file_access.hpp"
#include "platform/stop_handlers.hpp"

#include <windows.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>
#include <string>

namespace tarvelle {

namespace {

// ReadFile and WriteFile take a 32-bit count; 1 GiB per call stays well below it.
constexpr std::size_t maxTransferBytes = std::size_t{1} << 30;

HANDLE handleOf(const FileHandle& file)
{
    return reinterpret_cast<HANDLE>(file.native());
}

// Devices (CON, NUL, COM1), pipes and folders are not files to read or replace.
bool isDiskFile(HANDLE handle)
{
    if (::GetFileType(handle) != FILE_TYPE_DISK) {
        return false;
    }
    BY_HANDLE_FILE_INFORMATION information{};
    return ::GetFileInformationByHandle(handle, &information) != 0 &&
           (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// The registered temporary files, for the stop step, which runs on a thread
// of its own (the console control handler's). The lock keeps other threads
// from closing a handle while the step uses it: handle values are reused at
// once, and a stale one could mark an unrelated file, the input even, for
// deletion.
struct TemporarySlot {
    bool inUse = false;
    HANDLE handle = INVALID_HANDLE_VALUE; // while open
    std::string name;                     // until forgotten
    bool stopped = false;                 // a stop marked it: closing keeps the mark
};

SRWLOCK temporaryFileLock = SRWLOCK_INIT;
std::array<TemporarySlot, temporaryFileSlotCount> temporarySlots;
bool stopBegun = false; // under the lock: no temporary file is made after a stop

class TemporaryFileLockHeld {
public:
    TemporaryFileLockHeld() { ::AcquireSRWLockExclusive(&temporaryFileLock); }
    ~TemporaryFileLockHeld() { ::ReleaseSRWLockExclusive(&temporaryFileLock); }
    TemporaryFileLockHeld(const TemporaryFileLockHeld&) = delete;
    TemporaryFileLockHeld& operator=(const TemporaryFileLockHeld&) = delete;
};

// The program is ending: from now on no temporary file is made.
void setDeleteOnClose(HANDLE handle, bool deleted)
{
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = deleted ? TRUE : FALSE;
    ::SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof disposition);
}

void removeOnStop()
{
    {
        TemporaryFileLockHeld held;
        stopBegun = true;
    }
    removeTemporaryFilesOnStop();
}

bool seekTo(HANDLE handle, std::uint64_t offset)
{
    if (offset > static_cast<std::uint64_t>(std::numeric_limits<LONGLONG>::max())) {
        return false;
    }
    LARGE_INTEGER position{};
    position.QuadPart = static_cast<LONGLONG>(offset);
    return ::SetFilePointerEx(handle, position, nullptr, FILE_BEGIN) != 0;
}

} // namespace

std::variant<FileHandle, InputOpenFailure> tryOpenInputFile(const std::string& fileName)
{
    // Other readers may open it too; a writer may not, and one that has it
    // already makes the open fail with a sharing violation.
    const HANDLE handle = ::CreateFileA(fileName.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ? InputOpenFailure::InUse
                                                                                 : InputOpenFailure::NotOpened;
    }
    FileHandle file(reinterpret_cast<std::intptr_t>(handle));
    if (!isDiskFile(handle)) {
        closeFile(file);
        ::SetLastError(ERROR_ACCESS_DENIED);
        return InputOpenFailure::NotOpened;
    }
    return file;
}

std::optional<FileHandle> openInputFile(const std::string& fileName)
{
    std::variant<FileHandle, InputOpenFailure> opened = tryOpenInputFile(fileName);
    if (FileHandle* file = std::get_if<FileHandle>(&opened)) {
        return std::move(*file);
    }
    return std::nullopt;
}

TemporaryFile createTemporaryFile(const std::string& fileName)
{
    setStopAction(StopStep::RemoveTemporaryFiles, removeOnStop);
    TemporaryFile created;
    std::string name = fileName;
    TemporaryFileLockHeld held;
    if (stopBegun) {
        // The program is ending, and the stop has already looked for files to remove.
        ::SetLastError(ERROR_OPERATION_ABORTED);
        return created;
    }
    TemporarySlot* slot = nullptr;
    for (TemporarySlot& candidate : temporarySlots) {
        if (!candidate.inUse) {
            slot = &candidate;
            break;
        }
    }
    if (slot == nullptr) {
        ::SetLastError(ERROR_TOO_MANY_OPEN_FILES);
        return created;
    }
    // CREATE_NEW fails on anything already there, a link included. DELETE:
    // nobody else can open the file while we hold it, so a stop removes it
    // through this handle.
    const HANDLE handle = ::CreateFileA(fileName.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr,
                                        CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) {
            created.status = TemporaryFileStatus::NameTaken;
        }
        return created;
    }
    if (!isDiskFile(handle)) {
        // Not registered yet, and closeFile would take the lock held here.
        ::CloseHandle(handle);
        ::SetLastError(ERROR_ACCESS_DENIED);
        return created;
    }
    // Marked for deletion while it is written: however the program ends (a
    // stop, a crash, taskkill /F), the system removes it with the last handle.
    // closeFile takes the mark back before the file is renamed or removed.
    setDeleteOnClose(handle, true);
    slot->inUse = true;
    slot->handle = handle;
    slot->name.swap(name);
    created.status = TemporaryFileStatus::Created;
    created.file = FileHandle(reinterpret_cast<std::intptr_t>(handle));
    created.slot = static_cast<TemporaryFileSlot>(static_cast<std::size_t>(slot - temporarySlots.data()));
    return created;
}

void forgetTemporaryFile(TemporaryFileSlot slot)
{
    const DWORD savedError = ::GetLastError();
    {
        TemporaryFileLockHeld held;
        temporarySlots[static_cast<std::size_t>(slot)] = TemporarySlot{};
    }
    ::SetLastError(savedError);
}

void removeTemporaryFilesOnStop()
{
    TemporaryFileLockHeld held;
    for (TemporarySlot& slot : temporarySlots) {
        if (slot.handle != INVALID_HANDLE_VALUE) {
            // Gone once the handle is closed, at the latest when the process ends.
            setDeleteOnClose(slot.handle, true);
            slot.stopped = true;
        } else if (slot.inUse) {
            ::DeleteFileA(slot.name.c_str());
        }
    }
}

bool checkReplaceableOutput(const std::string& fileName, std::optional<FileHandle>& held)
{
    held.reset();
    const HANDLE handle = ::CreateFileA(fileName.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        return error == ERROR_FILE_NOT_FOUND;
    }
    FileHandle file(reinterpret_cast<std::intptr_t>(handle));
    BY_HANDLE_FILE_INFORMATION information{};
    const bool isLink = ::GetFileInformationByHandle(handle, &information) != 0 &&
                        (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    if (!isLink && !isDiskFile(handle)) {
        ::SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    // Closed again at once: a file held unshared could not be replaced.
    closeFile(file);
    return true;
}

bool replaceFile(const std::string& from, const std::string& to)
{
    return ::MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

bool removeFile(const std::string& fileName)
{
    return ::DeleteFileA(fileName.c_str()) != 0;
}

std::string folderOf(const std::string& fileName)
{
    const std::size_t separator = fileName.find_last_of("/\\:");
    return separator == std::string::npos ? std::string() : fileName.substr(0, separator + 1);
}

std::uint32_t processNumber()
{
    return static_cast<std::uint32_t>(::GetCurrentProcessId());
}

std::optional<std::uint64_t> fileSize(const FileHandle& file)
{
    LARGE_INTEGER size{};
    if (::GetFileSizeEx(handleOf(file), &size) == 0 || size.QuadPart < 0) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(size.QuadPart);
}

std::optional<std::size_t> readAt(const FileHandle& file, std::uint64_t offset, void* buffer,
                                  std::size_t byteCount)
{
    const HANDLE handle = handleOf(file);
    if (!seekTo(handle, offset)) {
        return std::nullopt;
    }
    auto* destination = static_cast<unsigned char*>(buffer);
    std::size_t bytesRead = 0;
    while (bytesRead < byteCount) {
        const auto request = static_cast<DWORD>(std::min(byteCount - bytesRead, maxTransferBytes));
        DWORD transferred = 0;
        if (::ReadFile(handle, destination + bytesRead, request, &transferred, nullptr) == 0) {
            return std::nullopt;
        }
        if (transferred == 0) {
            break; // end of file
        }
        bytesRead += transferred;
    }
    return bytesRead;
}

bool writeAll(const FileHandle& file, const void* bytes, std::size_t byteCount)
{
    const HANDLE handle = handleOf(file);
    const auto* source = static_cast<const unsigned char*>(bytes);
    std::size_t bytesWritten = 0;
    while (bytesWritten < byteCount) {
        const auto request = static_cast<DWORD>(std::min(byteCount - bytesWritten, maxTransferBytes));
        DWORD transferred = 0;
        if (::WriteFile(handle, source + bytesWritten, request, &transferred, nullptr) == 0 || transferred == 0) {
            return false;
        }
        bytesWritten += transferred;
    }
    return true;
}

std::optional<std::size_t> readStandardInput(void* buffer, std::size_t byteCount)
{
    DWORD transferred = 0;
    if (::ReadFile(::GetStdHandle(STD_INPUT_HANDLE), buffer,
                   static_cast<DWORD>(std::min(byteCount, maxTransferBytes)), &transferred, nullptr) == 0) {
        // A pipe whose writer is gone has simply ended.
        return ::GetLastError() == ERROR_BROKEN_PIPE ? std::optional<std::size_t>(0) : std::nullopt;
    }
    return transferred;
}

bool writeAt(const FileHandle& file, std::uint64_t offset, const void* bytes, std::size_t byteCount)
{
    return seekTo(handleOf(file), offset) && writeAll(file, bytes, byteCount);
}

bool closeFile(FileHandle& file)
{
    if (!file.isOpen()) {
        return true;
    }
    const auto handle = reinterpret_cast<HANDLE>(file.release());
    TemporaryFileLockHeld held;
    for (TemporarySlot& slot : temporarySlots) {
        if (slot.handle == handle) {
            // From now on a stop removes the temporary file by its name.
            if (!slot.stopped) {
                setDeleteOnClose(handle, false);
            }
            slot.handle = INVALID_HANDLE_VALUE;
        }
    }
    return ::CloseHandle(handle) != 0;
}

std::string lastFileErrorText()
{
    const DWORD error = ::GetLastError();
    char text[512] = {};
    const DWORD length = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                          error, 0, text, sizeof text, nullptr);
    std::string message(text, length);
    // The system's text ends in ".\r\n"; the caller puts it in a line of its own.
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == '.')) {
        message.pop_back();
    }
    return message.empty() ? "Windows error " + std::to_string(error) : message;
}

std::optional<FileIdentity> fileIdentity(const std::string& fileName)
{
    // No access asked for: only the file's attributes are read, and a file
    // another program holds is still told apart.
    const HANDLE handle =
        ::CreateFileA(fileName.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return std::nullopt;
    }
    FileHandle file(reinterpret_cast<std::intptr_t>(handle));
    return fileIdentity(file);
}

std::optional<FileIdentity> fileIdentity(const FileHandle& file)
{
    BY_HANDLE_FILE_INFORMATION information{};
    if (::GetFileInformationByHandle(handleOf(file), &information) == 0) {
        return std::nullopt;
    }
    return FileIdentity{information.dwVolumeSerialNumber,
                        static_cast<std::uint64_t>(information.nFileIndexHigh) << 32 | information.nFileIndexLow};
}

bool isFolder(const std::string& name)
{
    const DWORD attributes = ::GetFileAttributesA(name.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

} // namespace tarvelle

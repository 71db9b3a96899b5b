// Thin, platform-specific file access. An input is held shared with other
// readers and kept from writers; every other file the program opens is held
// without sharing. On POSIX these are non-blocking advisory flock locks
// (shared for an input, exclusive otherwise), and a POSIX record lock (fcntl,
// lockf) another program holds when the file is opened is honoured as well;
// on Windows, share modes. Names reach the file system whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace tarvelle {

// An open file, closed by closeFile or, if the caller never gets that far, by
// the destructor. Move-only.
class FileHandle {
public:
    FileHandle() = default;
    explicit FileHandle(std::intptr_t nativeHandle) : nativeHandle_(nativeHandle) {}
    FileHandle(FileHandle&& other) noexcept;
    FileHandle& operator=(FileHandle&& other) noexcept;
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    ~FileHandle();

    bool isOpen() const { return nativeHandle_ != invalidHandle; }
    std::intptr_t native() const { return nativeHandle_; }
    std::intptr_t release();

    static constexpr std::intptr_t invalidHandle = -1;

private:
    std::intptr_t nativeHandle_ = invalidHandle;
};

// Why an input could not be opened. InUse: another program holds it for
// writing (an exclusive flock or a record write lock on POSIX, an open
// without read sharing on Windows). NotOpened: anything else: missing, a
// folder, a device or pipe, one the user may not read.
enum class InputOpenFailure { NotOpened, InUse };

// Opens an existing regular file for reading only, shared with other
// readers, kept from writers while it is open. lastFileErrorText says why not.
std::variant<FileHandle, InputOpenFailure> tryOpenInputFile(const std::string& fileName);
// The same, when why not does not matter.
std::optional<FileHandle> openInputFile(const std::string& fileName);

// Which temporary file forgetTemporaryFile is to forget.
enum class TemporaryFileSlot : std::size_t {};
// How many temporary files may be open or pending at once.
constexpr std::size_t temporaryFileSlotCount = 256;

enum class TemporaryFileStatus {
    Created,
    NameTaken, // something already stands at the name; another name may do
    Failed,    // lastFileErrorText says why
};

struct TemporaryFile {
    TemporaryFileStatus status = TemporaryFileStatus::Failed;
    FileHandle file;             // open when Created
    TemporaryFileSlot slot = {}; // when Created, for forgetTemporaryFile
};

// Creates a new file for writing (and reading back), held without sharing, and registers it as a
// temporary file: one the program removes if it is stopped (see
// platform/stop_handlers.hpp) until forgetTemporaryFile. Fails when anything,
// a symbolic link included, already stands at the name, so nothing is
// followed. Up to temporaryFileSlotCount at once, from any threads.
TemporaryFile createTemporaryFile(const std::string& fileName);

// Once the temporary file is renamed or removed: a stop leaves its name alone.
void forgetTemporaryFile(TemporaryFileSlot slot);

// What a stop does: removes every registered temporary file, whether still
// open or already closed. Safe in a signal handler, while other threads create
// and forget temporary files.
void removeTemporaryFilesOnStop();

// Checks the file at an output name before it is replaced: true when there is
// none, when it is a symbolic link (the link is replaced, never followed) and
// when it is a regular file no other program holds (on POSIX: no flock of
// either kind and no record lock of another program). While held is open,
// other programs cannot take the file with flock; on Windows it is only
// checked, since a held file could not be replaced.
bool checkReplaceableOutput(const std::string& fileName, std::optional<FileHandle>& held);

// Puts the file at from in place of whatever stands at to, at once for every
// other process: rename on POSIX, MoveFileEx on Windows.
bool replaceFile(const std::string& from, const std::string& to);

bool removeFile(const std::string& fileName);

// The folder part of a name with its last separator ("" for a bare name).
std::string folderOf(const std::string& fileName);

std::uint32_t processNumber();

// Reads up to byteCount bytes from offset, looping over short reads; stops
// early only at the end of the file. nullopt on a read error.
std::optional<std::size_t> readAt(const FileHandle& file, std::uint64_t offset, void* buffer,
                                  std::size_t byteCount);

// The size of the open file in bytes; nullopt when it cannot be told.
std::optional<std::uint64_t> fileSize(const FileHandle& file);

// Writes all bytes at the current position, looping over short writes.
// False when any of them could not be written.
bool writeAll(const FileHandle& file, const void* bytes, std::size_t byteCount);

// Reads up to byteCount bytes of standard input as they are (no text mode);
// 0 at its end, nullopt on a read error.
std::optional<std::size_t> readStandardInput(void* buffer, std::size_t byteCount);

// Writes all bytes from offset on, leaving the position after them.
bool writeAt(const FileHandle& file, std::uint64_t offset, const void* bytes, std::size_t byteCount);

// Closes the file; false when the close reports an error (data may be lost).
bool closeFile(FileHandle& file);

// Why the last call of this layer on this thread failed, in the system's own
// words ("No space left on device"). Read it right after the failure.
std::string lastFileErrorText();

// What tells one file from another whatever names lead to it: hard and
// symbolic links share it.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t fileIndex = 0;

    bool operator==(const FileIdentity&) const = default;
};

// The identity of the file a name leads to; nullopt when there is none or it
// cannot be told.
std::optional<FileIdentity> fileIdentity(const std::string& fileName);
// The identity of an open file: the one read, whatever its name leads to now.
std::optional<FileIdentity> fileIdentity(const FileHandle& file);

// True when the name leads to a folder (through links, if any).
bool isFolder(const std::string& name);

inline FileHandle::FileHandle(FileHandle&& other) noexcept : nativeHandle_(other.release()) {}

inline FileHandle& FileHandle::operator=(FileHandle&& other) noexcept
{
    if (this != &other) {
        closeFile(*this);
        nativeHandle_ = other.release();
    }
    return *this;
}

inline FileHandle::~FileHandle()
{
    closeFile(*this);
}

inline std::intptr_t FileHandle::release()
{
    return std::exchange(nativeHandle_, invalidHandle);
}

} // namespace tarvelle

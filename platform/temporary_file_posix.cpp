// The temporary files the program writes before they take their names,
// registered so that a stop removes them.
#include "platform/file_access.hpp"
#include "platform/stop_handlers.hpp"

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <pthread.h>
#include <sched.h>
#include <string>
#include <sys/file.h>
#include <unistd.h>

namespace tarvelle {

namespace {

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

} // namespace tarvelle

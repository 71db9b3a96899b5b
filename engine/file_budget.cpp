#include "engine/file_budget.hpp"

#include "platform/file_access.hpp"

#include <algorithm>
#include <utility>

namespace tarvelle {

FileBudget::Share::Share(Share&& other) noexcept
    : budget_(std::exchange(other.budget_, nullptr)), fileCount_(std::exchange(other.fileCount_, 0))
{
}

FileBudget::Share& FileBudget::Share::operator=(Share&& other) noexcept
{
    if (this != &other) {
        release();
        budget_ = std::exchange(other.budget_, nullptr);
        fileCount_ = std::exchange(other.fileCount_, 0);
    }
    return *this;
}

void FileBudget::Share::release()
{
    if (budget_ != nullptr) {
        std::exchange(budget_, nullptr)->give(std::exchange(fileCount_, 0));
    }
}

FileBudget::Share FileBudget::take(std::size_t fileCount)
{
    fileCount = std::min(fileCount, total_);
    std::unique_lock lock(mutex_);
    freed_.wait(lock, [&] { return free_ >= fileCount; });
    free_ -= fileCount;
    return Share(this, fileCount);
}

void FileBudget::give(std::size_t fileCount)
{
    {
        const std::lock_guard lock(mutex_);
        free_ += fileCount;
    }
    freed_.notify_all();
}

FileBudget& FileBudget::temporaryFiles()
{
    static FileBudget budget(temporaryFileSlotCount);
    return budget;
}

} // namespace tarvelle

// How many temporary files the jobs of a run hold open at once, whatever the
// number of jobs: a job takes its share before it opens any and waits while
// the others hold the rest, rather than failing for want of a free one.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>

namespace tarvelle {

class FileBudget {
public:
    explicit FileBudget(std::size_t fileCount) : free_(fileCount), total_(fileCount) {}
    FileBudget(const FileBudget&) = delete;
    FileBudget& operator=(const FileBudget&) = delete;

    // Files held until it ends or is released.
    class Share {
    public:
        Share() = default;
        Share(Share&& other) noexcept;
        Share& operator=(Share&& other) noexcept;
        Share(const Share&) = delete;
        Share& operator=(const Share&) = delete;
        ~Share() { release(); }

        std::size_t fileCount() const { return fileCount_; }
        void release();

    private:
        friend class FileBudget;
        Share(FileBudget* budget, std::size_t fileCount) : budget_(budget), fileCount_(fileCount) {}

        FileBudget* budget_ = nullptr;
        std::size_t fileCount_ = 0;
    };

    // Waits until fileCount files are free (at most the whole budget).
    Share take(std::size_t fileCount);

    // The process's one budget: the temporary files the platform can keep.
    static FileBudget& temporaryFiles();

private:
    void give(std::size_t fileCount);

    std::mutex mutex_;
    std::condition_variable freed_;
    std::size_t free_;
    std::size_t total_;
};

} // namespace tarvelle

// Progress on the terminal: a line on standard error for each file being
// worked on, with how much of it is read and the time left, under what is
// printed, redrawn a few times a second and cleared when the file is done.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace tarvelle {

class ProgressLines {
public:
    using Clock = std::chrono::steady_clock;

    // Not shown: every call does nothing.
    explicit ProgressLines(bool shown);
    ProgressLines(const ProgressLines&) = delete;
    ProgressLines& operator=(const ProgressLines&) = delete;
    ~ProgressLines();

    // A line for a file from now until release; its number.
    std::size_t take(const std::string& shownName);
    // From any thread, as often as the engine likes.
    void reading(std::size_t line, std::uint64_t done, std::uint64_t total);
    void release(std::size_t line);
    // print prints its lines above the progress lines.
    void printAbove(const std::function<void()>& print);

private:
    struct File {
        std::string name;
        Clock::time_point start;
        std::uint64_t done = 0, total = 0;
    };

    void draw();
    void clear();

    bool shown_;
    std::mutex mutex_;
    std::vector<std::optional<File>> files_;
    std::size_t drawn_ = 0; // lines on the screen, the cursor on the first
    Clock::time_point lastDraw_;
};

// "tarvelle: take.wav: 42% read, 1:05 left", at most columns wide; the time
// left once a share is read.
std::string progressText(const std::string& shownName, std::uint64_t done, std::uint64_t total,
                         std::chrono::duration<double> elapsed, int columns);

// A file's line while it is worked on: taken when its reading starts,
// released when this goes.
class ProgressLine {
public:
    ProgressLine(ProgressLines& lines, std::string shownName) : lines_(lines), name_(std::move(shownName)) {}
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;
    ~ProgressLine()
    {
        if (line_) {
            lines_.release(*line_);
        }
    }

    void start() { line_ = lines_.take(name_); }
    void reading(std::uint64_t done, std::uint64_t total)
    {
        if (line_) {
            lines_.reading(*line_, done, total);
        }
    }

private:
    ProgressLines& lines_;
    std::string name_;
    std::optional<std::size_t> line_;
};

} // namespace tarvelle

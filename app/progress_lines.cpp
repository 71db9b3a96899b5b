#include "app/progress_lines.hpp"

#include "app/plain_text.hpp"
#include "console/console.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace tarvelle {

namespace {

// Often enough to see it move, seldom enough not to flicker.
constexpr std::chrono::milliseconds redrawEvery{250};

// "0:42", "12:05", "1:02:03"
std::string durationText(double seconds)
{
    const auto whole = std::llround(seconds);
    char text[32];
    if (whole >= 3600) {
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", whole / 3600, whole / 60 % 60, whole % 60);
    } else {
        std::snprintf(text, sizeof text, "%lld:%02lld", whole / 60, whole % 60);
    }
    return text;
}

// At most columns characters of UTF-8, cut before a character, not inside one.
std::string fitted(std::string text, int columns)
{
    int counted = 0;
    for (std::size_t at = 0; at < text.size(); ++at) {
        if ((static_cast<unsigned char>(text[at]) & 0xC0) != 0x80 && ++counted > columns) {
            text.resize(at);
            break;
        }
    }
    return text;
}

} // namespace

std::string progressText(const std::string& shownName, std::uint64_t done, std::uint64_t total,
                         std::chrono::duration<double> elapsed, int columns)
{
    std::string text = "tarvelle: " + shownName + ": ";
    if (total == 0) {
        text += "reading";
    } else {
        const double share = std::min(1.0, static_cast<double>(done) / static_cast<double>(total));
        text += std::to_string(static_cast<int>(share * 100.0)) + "% read";
        // The first half second's rate says little.
        if (share > 0.0 && elapsed.count() >= 0.5) {
            text += ", " + durationText(elapsed.count() * (1.0 - share) / share) + " left";
        }
    }
    // One column short of the width: a full line would wrap on some terminals.
    return fitted(std::move(text), std::max(columns - 1, 1));
}

ProgressLines::ProgressLines(bool shown) : shown_(shown && console::startStatusLines()) {}

ProgressLines::~ProgressLines()
{
    if (shown_) {
        const std::lock_guard lock(mutex_);
        clear();
        console::endStatusLines();
    }
}

std::size_t ProgressLines::take(const std::string& shownName)
{
    if (!shown_) {
        return 0;
    }
    const std::lock_guard lock(mutex_);
    const auto free = std::find(files_.begin(), files_.end(), std::nullopt);
    const auto line = static_cast<std::size_t>(free - files_.begin());
    if (free == files_.end()) {
        files_.emplace_back(File{shownName, Clock::now()});
    } else {
        free->emplace(File{shownName, Clock::now()});
    }
    return line;
}

void ProgressLines::reading(std::size_t line, std::uint64_t done, std::uint64_t total)
{
    if (!shown_) {
        return;
    }
    const std::lock_guard lock(mutex_);
    if (line >= files_.size() || !files_[line]) {
        return;
    }
    files_[line]->done = done;
    files_[line]->total = total;
    if (Clock::now() - lastDraw_ >= redrawEvery) {
        draw();
    }
}

void ProgressLines::release(std::size_t line)
{
    if (!shown_) {
        return;
    }
    const std::lock_guard lock(mutex_);
    files_.at(line).reset();
    while (!files_.empty() && !files_.back()) {
        files_.pop_back();
    }
    if (drawn_ > 0) {
        draw();
    }
}

void ProgressLines::printAbove(const std::function<void()>& print)
{
    if (!shown_) {
        print();
        return;
    }
    const std::lock_guard lock(mutex_);
    clear();
    print();
    draw();
}

// Each file's line from the cursor down, then the cursor back on the first:
// what is printed next starts there, over them.
void ProgressLines::draw()
{
    lastDraw_ = Clock::now();
    const int columns = console::standardErrorColumns();
    std::string text = "\r\x1b[J";
    for (std::size_t line = 0; line < files_.size(); ++line) {
        if (line > 0) {
            text += "\n";
        }
        if (files_[line]) {
            const File& file = *files_[line];
            text += progressText(file.name, file.done, file.total, lastDraw_ - file.start, columns);
        }
    }
    if (files_.size() > 1) {
        text += "\x1b[" + std::to_string(files_.size() - 1) + "A";
    }
    text += "\r";
    drawn_ = files_.size();
    console::setStatusLinesShown(drawn_ > 0);
    printText(stderr, text);
    std::fflush(stderr);
}

void ProgressLines::clear()
{
    if (drawn_ == 0) {
        return;
    }
    printText(stderr, "\r\x1b[J");
    std::fflush(stderr);
    drawn_ = 0;
    console::setStatusLinesShown(false);
}

} // namespace tarvelle

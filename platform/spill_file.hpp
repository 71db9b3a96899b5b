// Bytes too many to keep in memory, such as every event of a long clipped
// file until its result is told: held in memory while few, then appended to a
// temporary file of their own in the system's temporary folder, removed when
// the spill goes (or the program is stopped).
#pragma once

#include "platform/file_access.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

namespace tarvelle {

class SpillFile {
public:
    // Bytes kept in memory before they go to the disk.
    static constexpr std::size_t memoryBytes = std::size_t{1} << 16;

    SpillFile() = default;
    SpillFile(SpillFile&& other) noexcept;
    SpillFile& operator=(SpillFile&&) = delete;
    SpillFile(const SpillFile&) = delete;
    SpillFile& operator=(const SpillFile&) = delete;
    ~SpillFile();

    void append(std::span<const std::uint8_t> bytes);
    bool empty() const { return fileBytes_ == 0 && memory_.empty(); }

    // Every byte in the order appended, a piece at a time; false when the
    // temporary file could not be read back (why in failure()).
    bool readAll(const std::function<void(std::span<const std::uint8_t>)>& piece) const;

    std::uint64_t size() const { return fileBytes_ + memory_.size(); }
    // Bytes from offset to fill the buffer, or false when they cannot be read.
    bool readAt(std::uint64_t offset, std::span<std::uint8_t> buffer) const;

    // Why the bytes could not be kept: the first failure, or empty.
    const std::string& failure() const { return failure_; }

private:
    bool toDisk(std::span<const std::uint8_t> bytes);

    std::vector<std::uint8_t> memory_;
    std::optional<FileHandle> file_;
    std::string fileName_;
    TemporaryFileSlot slot_{};
    std::uint64_t fileBytes_ = 0;
    std::string failure_;
};

// Records of one plain kind kept in a spill, told back in the order kept.
template <class T> class Spilled {
    static_assert(std::is_trivially_copyable_v<T>);

public:
    Spilled() = default;
    // A copy reads every record back: for a caller that keeps a result.
    Spilled(const Spilled& other)
    {
        other.forEach([this](const T& record) { push_back(record); });
    }
    Spilled(Spilled&&) noexcept = default;
    Spilled& operator=(const Spilled&) = delete;
    Spilled& operator=(Spilled&&) = delete;

    void push_back(const T& record)
    {
        bytes_.append(std::span(reinterpret_cast<const std::uint8_t*>(&record), sizeof record));
    }
    bool empty() const { return bytes_.empty(); }

    // Throws when the records cannot be read back: a result without them
    // would pass for a whole one.
    template <class Each> void forEach(Each each) const
    {
        std::uint8_t partial[sizeof(T)];
        std::size_t held = 0;
        const bool read = bytes_.readAll([&](std::span<const std::uint8_t> piece) {
            for (std::size_t taken = 0; taken < piece.size();) {
                const std::size_t count = std::min(sizeof(T) - held, piece.size() - taken);
                std::memcpy(partial + held, piece.data() + taken, count);
                held += count;
                taken += count;
                if (held == sizeof(T)) {
                    T record;
                    std::memcpy(&record, partial, sizeof record);
                    each(record);
                    held = 0;
                }
            }
        });
        if (!read) {
            throw std::runtime_error("a temporary file could not be read back: " + lastFileErrorText());
        }
    }
    std::vector<T> toVector() const
    {
        std::vector<T> records;
        forEach([&records](const T& record) { records.push_back(record); });
        return records;
    }

private:
    SpillFile bytes_;
};

} // namespace tarvelle

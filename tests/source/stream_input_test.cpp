#include "source/stream_input.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

namespace tarvelle {
namespace {

constexpr std::size_t streamBytes = 1000;

std::uint8_t byteAt(std::uint64_t offset)
{
    return static_cast<std::uint8_t>(offset % 251);
}

// A stream of streamBytes bytes that comes 7 bytes at a time, as a pipe may.
StreamInput pipeStream()
{
    return StreamInput([sent = std::size_t{0}](std::span<std::uint8_t> buffer) mutable {
        const std::size_t count = std::min({buffer.size(), std::size_t{7}, streamBytes - sent});
        for (std::size_t index = 0; index < count; ++index) {
            buffer[index] = byteAt(sent + index);
        }
        sent += count;
        return std::optional<std::size_t>(count);
    });
}

enum class Call { At, From, On };

struct Step {
    Call call;
    std::uint64_t offset;
    std::size_t size;
    std::optional<std::size_t> read; // nullopt: refused
};

struct Case {
    std::string name;
    std::vector<Step> steps;
};

TEST(StreamInputTest, ReadsFromWhereAskedWhileTheBytesAreThere)
{
    const std::vector<Case> cases = {
        {"a skip forward", {{Call::At, 0, 16, 16}, {Call::From, 100, 10, 10}, {Call::From, 200, 10, 10}}},
        {"back into the kept bytes not yet passed",
         {{Call::At, 0, 64, 64}, {Call::From, 40, 8, 8}, {Call::From, 8, 8, 8}}},
        {"back before the kept bytes passed on",
         {{Call::At, 0, 16, 16}, {Call::From, 8, 16, 16}, {Call::From, 8, 4, {}}}},
        {"back behind the stream", {{Call::From, 50, 10, 10}, {Call::From, 55, 5, {}}}},
        {"to the end, then nothing", {{Call::From, 990, 20, 10}, {Call::From, 1000, 5, 0}}},
        {"no random access once read on", {{Call::From, 0, 4, 4}, {Call::At, 0, 4, {}}}},
        {"read on goes on where it ended", {{Call::At, 0, 8, 8}, {Call::On, 4, 4, 4}, {Call::On, 4, 4, 4}}},
    };
    for (const Case& tested : cases) {
        SCOPED_TRACE(tested.name);
        StreamInput stream = pipeStream();
        std::optional<std::uint64_t> next; // where readOn goes on from
        for (const Step& step : tested.steps) {
            std::vector<std::uint8_t> buffer(step.size);
            const std::optional<std::size_t> read = step.call == Call::At ? stream.readAt(step.offset, buffer)
                                                    : step.call == Call::From
                                                        ? stream.readFrom(step.offset, buffer)
                                                        : stream.readOn(step.offset, buffer);
            ASSERT_EQ(read, step.read) << "at " << step.offset;
            const std::uint64_t first = step.call == Call::On ? next.value_or(step.offset) : step.offset;
            for (std::size_t index = 0; index < read.value_or(0); ++index) {
                ASSERT_EQ(buffer[index], byteAt(first + index)) << "byte " << first + index;
            }
            if (step.call != Call::At) {
                next = first + read.value_or(0);
            }
        }
    }
}

} // namespace
} // namespace tarvelle

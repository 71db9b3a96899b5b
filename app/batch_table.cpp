#include "app/batch_table.hpp"

#include "clip/peak_clip.hpp"

#include <charconv>
#include <cmath>
#include <numeric>

namespace tarvelle {

namespace {

// The shortest text that reads back to the same double, as the JSON has it.
std::string numberText(double value)
{
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    return std::string(text, end);
}

// To the hundredth, as the JSON rounds levels; empty where there is none.
std::string hundredths(std::optional<double> value)
{
    if (!value || !std::isfinite(*value)) {
        return {};
    }
    return numberText(std::round(*value * 100.0) / 100.0 + 0.0);
}

// A value of the loudness, where it was measured.
template <class Get> std::string ofLoudness(const TableRow& row, Get get)
{
    return row.found != nullptr && row.found->loudness ? hundredths(get(*row.found->loudness)) : std::string();
}

// A count of the check, where it was made.
template <class Get> std::string ofCheck(const TableRow& row, Get get)
{
    if (row.found == nullptr || !row.found->check) {
        return {};
    }
    const std::optional<std::int64_t> count = get(row.found->check->clipping);
    return count ? std::to_string(*count) : std::string();
}

std::int64_t sum(const std::vector<std::int64_t>& counts)
{
    return std::accumulate(counts.begin(), counts.end(), std::int64_t{0});
}

std::optional<double> lufsOf(const std::optional<LoudestMoment>& moment)
{
    return moment ? std::optional(moment->lufs) : std::nullopt;
}

const TableColumn columns[] = {
    {"name", [](const TableRow& row) { return std::string(row.inputName); }},
    {"status", [](const TableRow& row) { return std::string(row.status); }},
    {"message", [](const TableRow& row) { return std::string(row.message); }},
    {"sample rate",
     [](const TableRow& row) { return row.found ? std::to_string(row.found->format.sampleRate) : std::string(); }},
    {"format",
     [](const TableRow& row) {
         return row.found ? std::string(sampleFormatKey(row.found->format.encoding)) : std::string();
     }},
    {"channels",
     [](const TableRow& row) { return row.found ? std::to_string(row.found->format.channels) : std::string(); }},
    {"duration s",
     [](const TableRow& row) { return row.found ? numberText(row.found->durationSeconds()) : std::string(); }},
    {"peak dBFS",
     [](const TableRow& row) {
         return row.found ? hundredths(levelDbfs(row.found->peak, fullScale(row.found->format))) : std::string();
     }},
    {"true peak dBTP",
     [](const TableRow& row) {
         return ofLoudness(row,
                           [](const LoudnessResult& found) { return std::optional(found.truePeakDbtpOverall); });
     }},
    {"integrated LUFS",
     [](const TableRow& row) {
         return ofLoudness(row, [](const LoudnessResult& found) { return found.integratedLufs; });
     }},
    {"LRA LU",
     [](const TableRow& row) {
         return ofLoudness(row, [](const LoudnessResult& found) { return found.loudnessRange; });
     }},
    {"max short-term LUFS",
     [](const TableRow& row) {
         return ofLoudness(row, [](const LoudnessResult& found) { return lufsOf(found.maxShortTerm); });
     }},
    {"max momentary LUFS",
     [](const TableRow& row) {
         return ofLoudness(row, [](const LoudnessResult& found) { return lufsOf(found.maxMomentary); });
     }},
    {"PLR LU",
     [](const TableRow& row) {
         return ofLoudness(row, [](const LoudnessResult& found) { return found.peakToLoudnessRatio; });
     }},
    {"clipped runs full scale",
     [](const TableRow& row) {
         return ofCheck(row,
                        [](const ExistingClipResult& found) { return std::optional(sum(found.fullScaleRuns)); });
     }},
    // As in the JSON: none without a ceiling, or without overs.
    {"clipped runs ceiling",
     [](const TableRow& row) {
         return ofCheck(row, [](const ExistingClipResult& found) {
             return found.positiveCeiling || found.negativeCeiling ? std::optional(sum(found.ceilingRuns))
                                                                   : std::nullopt;
         });
     }},
    {"overs",
     [](const TableRow& row) {
         return ofCheck(row, [](const ExistingClipResult& found) {
             return found.highestOver ? std::optional(sum(found.overSamples)) : std::nullopt;
         });
     }},
};

} // namespace

std::span<const TableColumn> tableColumns()
{
    return columns;
}

std::string csvField(std::string_view text)
{
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
        return std::string(text);
    }
    std::string field = "\"";
    for (const char character : text) {
        field += character;
        if (character == '"') {
            field += '"';
        }
    }
    return field + '"';
}

namespace {

template <class Field> std::string csvLine(Field field)
{
    std::string line;
    for (const TableColumn& column : tableColumns()) {
        if (&column != tableColumns().data()) {
            line += ',';
        }
        line += csvField(field(column));
    }
    return line;
}

} // namespace

std::string csvHeadingLine()
{
    return csvLine([](const TableColumn& column) { return std::string(column.heading); });
}

std::string csvRowLine(const TableRow& row)
{
    return csvLine([&row](const TableColumn& column) { return column.value(row); });
}

} // namespace tarvelle

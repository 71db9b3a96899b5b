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

// A figure of the channels, where they were measured.
template <class Get> std::string ofChannels(const TableRow& row, Get get)
{
    return row.found != nullptr && row.found->channelStats ? get(*row.found->channelStats) : std::string();
}

// Each channel's figure in one field, as "-52.1;-inf".
std::string perChannel(const std::vector<double>& values)
{
    std::string field;
    for (const double value : values) {
        if (!field.empty()) {
            field += ';';
        }
        field += std::isfinite(value) ? hundredths(value) : "-inf";
    }
    return field;
}

template <class Get> std::string ofDelivery(const TableRow& row, Get get)
{
    return row.found != nullptr && row.found->delivery ? get(*row.found->delivery) : std::string();
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
    {"silence head s",
     [](const TableRow& row) {
         return ofChannels(row, [](const ChannelStats& found) { return hundredths(found.headSilenceSeconds); });
     }},
    {"silence tail s",
     [](const TableRow& row) {
         return ofChannels(row, [](const ChannelStats& found) { return hundredths(found.tailSilenceSeconds); });
     }},
    {"DC offset dBFS",
     [](const TableRow& row) {
         return ofChannels(row, [](const ChannelStats& found) { return perChannel(found.dcOffsetDbfs); });
     }},
    {"verdict",
     [](const TableRow& row) {
         return ofDelivery(row,
                           [](const DeliveryResult& found) { return std::string(found.pass ? "PASS" : "FAIL"); });
     }},
    {"failed checks",
     [](const TableRow& row) {
         return ofDelivery(row, [](const DeliveryResult& found) {
             std::string names;
             for (const DeliveryCheck& check : found.checks) {
                 if (!check.pass) {
                     names += names.empty() ? check.name : ";" + check.name;
                 }
             }
             return names;
         });
     }},
};
constexpr std::size_t verdictColumnCount = 2;

} // namespace

std::span<const TableColumn> tableColumns(bool verdict)
{
    return std::span(columns).first(std::size(columns) - (verdict ? 0 : verdictColumnCount));
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

template <class Field> std::string csvLine(bool verdict, Field field)
{
    std::string line;
    for (const TableColumn& column : tableColumns(verdict)) {
        if (&column != columns) {
            line += ',';
        }
        line += csvField(field(column));
    }
    return line;
}

} // namespace

std::string csvHeadingLine(bool verdict)
{
    return csvLine(verdict, [](const TableColumn& column) { return std::string(column.heading); });
}

std::string csvRowLine(const TableRow& row, bool verdict)
{
    return csvLine(verdict, [&row](const TableColumn& column) { return column.value(row); });
}

} // namespace tarvelle

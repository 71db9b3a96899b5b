// --csv: a row per file, for a spreadsheet. The columns are one table; a
// column's value is empty where its measurement was not made.
#pragma once

#include "engine/job_result.hpp"

#include <span>
#include <string>
#include <string_view>

namespace tarvelle {

// What a row is read from.
struct TableRow {
    std::string_view inputName;
    std::string_view status;          // as in the JSON: "checked", "errors", "refused", ...
    std::string_view message;         // why it was refused or skipped
    const JobResult* found = nullptr; // none when the file was not worked on
};

struct TableColumn {
    std::string_view heading;
    std::string (*value)(const TableRow& row);
};

// The verdict's columns, last, only for a run against a delivery profile.
std::span<const TableColumn> tableColumns(bool verdict);

// One field as RFC 4180 has it: quoted when it holds a comma, a quote or a
// line break, its quotes doubled.
std::string csvField(std::string_view text);

// The heading row and a file's row, without the line end.
std::string csvHeadingLine(bool verdict);
std::string csvRowLine(const TableRow& row, bool verdict);

} // namespace tarvelle

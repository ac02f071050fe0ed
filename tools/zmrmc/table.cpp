#include "table.h"

#include <algorithm>

namespace {

// Characters of UTF-8 text (continuation bytes do not count).
size_t Width(const std::string& text) {
    return static_cast<size_t>(std::count_if(text.begin(), text.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

void WriteRow(std::ostream& out, const std::vector<std::string>& cells, const std::vector<size_t>& widths) {
    std::string line;
    for (size_t i = 0; i < cells.size(); ++i) {
        line += cells[i];
        if (i + 1 < cells.size()) line += std::string(widths[i] - Width(cells[i]) + 2, ' ');
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    out << line << '\n';
}

}  // namespace

void WriteTable(std::ostream& out, const std::vector<std::string>& header,
                const std::vector<std::vector<std::string>>& rows) {
    std::vector<size_t> widths(header.size(), 0);
    for (size_t i = 0; i < header.size(); ++i) widths[i] = Width(header[i]);
    for (const auto& row : rows)
        for (size_t i = 0; i < row.size() && i < widths.size(); ++i) widths[i] = std::max(widths[i], Width(row[i]));
    WriteRow(out, header, widths);
    for (const auto& row : rows) WriteRow(out, row, widths);
}

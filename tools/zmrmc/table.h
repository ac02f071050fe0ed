// A plain text table: a header row and rows of cells in columns as wide as their widest cell.
#pragma once

#include <ostream>
#include <string>
#include <vector>

void WriteTable(std::ostream& out, const std::vector<std::string>& header,
                const std::vector<std::vector<std::string>>& rows);

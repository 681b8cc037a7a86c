#include "items/record_table.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>
#include <stdexcept>

#include "core/text.h"

namespace quorlan {

namespace {

// The end offset of cell k in a row block (offsets count from the end of the header).
std::uint32_t cellEnd(const std::string& row, std::size_t k) {
    std::uint32_t end = 0;
    std::memcpy(&end, row.data() + k * sizeof end, sizeof end);
    return end;
}

void setCellEnd(std::string& row, std::size_t k, std::uint32_t end) {
    std::memcpy(row.data() + k * sizeof end, &end, sizeof end);
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return c - 'A' + 10;
}

// Compares two all-hex-digit texts by value, exactly, whatever their length.
int compareHex(std::string_view a, std::string_view b) {
    while (a.size() > 1 && a.front() == '0') a.remove_prefix(1);
    while (b.size() > 1 && b.front() == '0') b.remove_prefix(1);
    if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const int da = hexValue(a[i]);
        const int db = hexValue(b[i]);
        if (da != db) return da < db ? -1 : 1;
    }
    return 0;
}

std::optional<double> parseNumber(std::string_view text) {
    if (text.empty()) return std::nullopt;
    if (text.back() == '%') text.remove_suffix(1);
    if (text.empty() || text.front() == ' ' || text.front() == '\t') return std::nullopt;
    const std::string copy(text);
    char* end = nullptr;
    const double value = std::strtod(copy.c_str(), &end);
    if (end != copy.c_str() + copy.size()) return std::nullopt;
    return value;
}

// Parses "D-MON-YYYY" (the program's date texts) or "H:M[:S]" (its time texts) into seconds
// since year 0 (a date) or since midnight (a time).
std::optional<std::int64_t> parseDateTime(std::string_view text) {
    static constexpr std::array<std::string_view, 12> kMonths = {
        "JAN", "FEB", "MAR", "APR", "MAY", "JUN", "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
    auto number = [](std::string_view part) -> std::optional<std::int64_t> {
        if (!isAllDigits(part) || part.size() > 6) return std::nullopt;
        return static_cast<std::int64_t>(parseDecimalU64(part));
    };
    const auto dash1 = text.find('-');
    if (dash1 != std::string_view::npos) {
        const auto dash2 = text.find('-', dash1 + 1);
        if (dash2 == std::string_view::npos) return std::nullopt;
        const auto day = number(text.substr(0, dash1));
        const auto year = number(text.substr(dash2 + 1));
        const auto mon = text.substr(dash1 + 1, dash2 - dash1 - 1);
        std::int64_t month = -1;
        for (std::size_t i = 0; i < kMonths.size(); ++i) {
            if (equalsIgnoreCase(mon, kMonths[i])) month = static_cast<std::int64_t>(i);
        }
        if (!day || !year || month < 0) return std::nullopt;
        return ((*year * 12 + month) * 31 + *day) * 86400;
    }
    const auto colon1 = text.find(':');
    if (colon1 == std::string_view::npos) return std::nullopt;
    const auto colon2 = text.find(':', colon1 + 1);
    const auto h = number(text.substr(0, colon1));
    const auto m = number(text.substr(colon1 + 1, colon2 == std::string_view::npos
                                                      ? std::string_view::npos
                                                      : colon2 - colon1 - 1));
    std::optional<std::int64_t> s = 0;
    if (colon2 != std::string_view::npos) s = number(text.substr(colon2 + 1));
    if (!h || !m || !s) return std::nullopt;
    return *h * 3600 + *m * 60 + *s;
}

template <typename T>
int threeWay(T a, T b) {
    return a < b ? -1 : (b < a ? 1 : 0);
}

}  // namespace

int CompareCells(std::string_view a, std::string_view b) {
    if (isAllHexDigits(a) && isAllHexDigits(b)) return compareHex(a, b);
    if (const auto na = parseNumber(a)) {
        if (const auto nb = parseNumber(b)) return threeWay(*na, *nb);
    }
    if (const auto da = parseDateTime(a)) {
        if (const auto db = parseDateTime(b)) return threeWay(*da, *db);
    }
    return threeWay(a, b);
}

int RecordTable::ColumnIndex(std::string_view columnName) const {
    for (std::size_t i = 0; i < m_columns.size(); ++i) {
        if (m_columns[i].name == columnName) return static_cast<int>(i);
    }
    return -1;
}

int RecordTable::RequireColumn(std::string_view columnName) const {
    const int column = ColumnIndex(columnName);
    if (column < 0) {
        throw std::invalid_argument("the table '" + m_name + "' has no column '" + std::string(columnName) + "'");
    }
    return column;
}

void RecordTable::ResetColumns(std::vector<ColumnSpec> columns) {
    m_columns = std::move(columns);
    m_rows.clear();
    m_sortedColumn = -1;
}

int RecordTable::InsertRow(int index, std::string_view text) {
    if (index < 0 || index > RowCount()) index = RowCount();
    const std::size_t columns = m_columns.size();
    std::string row;
    if (columns > 0) {
        const std::size_t header = columns * sizeof(std::uint32_t);
        const auto length = static_cast<std::uint32_t>(
            std::min<std::size_t>(text.size(), std::numeric_limits<std::uint32_t>::max() - header));
        row.resize(header);
        for (std::size_t k = 0; k < columns; ++k) setCellEnd(row, k, length);
        row.append(text.substr(0, length));
    }
    m_rows.insert(m_rows.begin() + index, std::move(row));
    return index;
}

void RecordTable::SetCell(int row, int column, std::string_view text) {
    if (row < 0 || row >= RowCount() || column < 0 || column >= ColumnCount()) return;
    std::string& block = m_rows[static_cast<std::size_t>(row)];
    const auto k = static_cast<std::size_t>(column);
    const std::size_t columns = m_columns.size();
    const std::size_t header = columns * sizeof(std::uint32_t);
    const std::uint32_t begin = k == 0 ? 0 : cellEnd(block, k - 1);
    const std::uint32_t end = cellEnd(block, k);
    const std::size_t room = std::numeric_limits<std::uint32_t>::max() - header - (block.size() - header - (end - begin));
    text = text.substr(0, std::min(text.size(), room));
    block.replace(header + begin, end - begin, text);
    const auto newEnd = static_cast<std::uint32_t>(begin + text.size());
    const std::int64_t shift = std::int64_t{newEnd} - std::int64_t{end};
    for (std::size_t j = k; j < columns; ++j) {
        setCellEnd(block, j, static_cast<std::uint32_t>(std::int64_t{cellEnd(block, j)} + shift));
    }
}

void RecordTable::SetCell(int row, std::string_view columnName, std::string_view text) {
    SetCell(row, RequireColumn(columnName), text);
}

void RecordTable::SetNumber(int row, int column, std::uint64_t value) {
    SetCell(row, column, std::to_string(value));
}

void RecordTable::SetNumber(int row, std::string_view columnName, std::uint64_t value) {
    SetCell(row, RequireColumn(columnName), std::to_string(value));
}

void RecordTable::SetSignedNumber(int row, int column, std::int64_t value) {
    SetCell(row, column, std::to_string(value));
}

void RecordTable::SetSignedNumber(int row, std::string_view columnName, std::int64_t value) {
    SetCell(row, RequireColumn(columnName), std::to_string(value));
}

std::string_view RecordTable::GetCell(int row, int column) const {
    if (row < 0 || row >= RowCount() || column < 0 || column >= ColumnCount()) return {};
    const std::string& block = m_rows[static_cast<std::size_t>(row)];
    const auto k = static_cast<std::size_t>(column);
    const std::size_t header = m_columns.size() * sizeof(std::uint32_t);
    const std::uint32_t begin = k == 0 ? 0 : cellEnd(block, k - 1);
    return std::string_view(block).substr(header + begin, cellEnd(block, k) - begin);
}

std::string_view RecordTable::GetCell(int row, std::string_view columnName) const {
    return GetCell(row, RequireColumn(columnName));
}

std::string RecordTable::GetCell(int row, int column, std::size_t bufferLength) const {
    if (bufferLength == 0) return {};
    return std::string(truncateUtf8(GetCell(row, column), bufferLength - 1));
}

std::uint32_t RecordTable::GetU32(int row, int column) const {
    const std::uint64_t v = parseDecimalU64(GetCell(row, column));
    return v > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(v);
}

std::uint64_t RecordTable::GetU64(int row, int column) const { return parseDecimalU64(GetCell(row, column)); }

std::int64_t RecordTable::GetI64(int row, int column) const { return parseDecimalI64(GetCell(row, column)); }

std::uint32_t RecordTable::GetU32(int row, std::string_view columnName) const {
    return GetU32(row, RequireColumn(columnName));
}

std::uint64_t RecordTable::GetU64(int row, std::string_view columnName) const {
    return GetU64(row, RequireColumn(columnName));
}

std::int64_t RecordTable::GetI64(int row, std::string_view columnName) const {
    return GetI64(row, RequireColumn(columnName));
}

void RecordTable::DeleteRow(int row) {
    if (row < 0 || row >= RowCount()) return;
    m_rows.erase(m_rows.begin() + row);
}

int RecordTable::FindRow(std::string_view text) const {
    for (std::size_t i = 0; i < m_rows.size(); ++i) {
        if (ColumnCount() > 0 && equalsIgnoreCase(GetCell(static_cast<int>(i), 0), text)) return static_cast<int>(i);
    }
    return -1;
}

bool RecordTable::SortByColumn(int column, bool ascending) {
    if (!m_sortable || column < 0 || column >= ColumnCount()) return false;
    const auto col = static_cast<std::size_t>(column);
    const std::size_t header = m_columns.size() * sizeof(std::uint32_t);
    auto cellOf = [&](const std::string& block) {
        const std::uint32_t begin = col == 0 ? 0 : cellEnd(block, col - 1);
        return std::string_view(block).substr(header + begin, cellEnd(block, col) - begin);
    };
    auto before = [&](const std::string& x, const std::string& y) {
        const int c = CompareCells(cellOf(x), cellOf(y));
        return ascending ? c < 0 : c > 0;
    };
    // A bottom-up merge sort: it needs no more of the comparison than "is x before y", so cells
    // that fall under different rules can never send it out of bounds.
    std::vector<std::string> scratch(m_rows.size());
    for (std::size_t width = 1; width < m_rows.size(); width *= 2) {
        for (std::size_t lo = 0; lo < m_rows.size(); lo += 2 * width) {
            const std::size_t mid = std::min(lo + width, m_rows.size());
            const std::size_t hi = std::min(lo + 2 * width, m_rows.size());
            std::size_t i = lo;
            std::size_t j = mid;
            std::size_t k = lo;
            while (i < mid && j < hi) scratch[k++] = std::move(before(m_rows[j], m_rows[i]) ? m_rows[j++] : m_rows[i++]);
            while (i < mid) scratch[k++] = std::move(m_rows[i++]);
            while (j < hi) scratch[k++] = std::move(m_rows[j++]);
        }
        m_rows.swap(scratch);
    }
    m_sortedColumn = column;
    m_sortedAscending = ascending;
    return true;
}

}  // namespace quorlan

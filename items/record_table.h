// The record tables in which the searches store what they find: ordered rows of text cells
// under named columns. Numbers are kept as decimal text, as the recovery log stores them.
// A row is kept as one block of bytes (the cells' end offsets, then the cells' text), so that a
// search of a large volume, one row per file, costs one small allocation per file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quorlan {

struct ColumnSpec {
    std::string name;
    int width = 100;  // width in pixels when shown; hidden tables carry it without meaning
};

class RecordTable {
public:
    RecordTable() = default;
    RecordTable(std::string tableName, std::vector<ColumnSpec> columns, bool sortable = false)
        : m_name(std::move(tableName)), m_columns(std::move(columns)), m_sortable(sortable) {}

    [[nodiscard]] const std::string& name() const { return m_name; }
    [[nodiscard]] const std::vector<ColumnSpec>& columns() const { return m_columns; }
    [[nodiscard]] int ColumnCount() const { return static_cast<int>(m_columns.size()); }
    // Index of the column with exactly this name, or -1.
    [[nodiscard]] int ColumnIndex(std::string_view columnName) const;
    // The same for a name the caller's code spells: an unknown name is a mistake in the program,
    // not in the data, and throws std::invalid_argument. Every access by column name goes
    // through it.
    [[nodiscard]] int RequireColumn(std::string_view columnName) const;
    // Replaces the columns as a whole and drops every row (the visible list changes roles so).
    void ResetColumns(std::vector<ColumnSpec> columns);

    [[nodiscard]] int RowCount() const { return static_cast<int>(m_rows.size()); }
    // Inserts a row before row index (index == RowCount appends; an index outside 0..RowCount
    // appends too) whose column-0 cell is text and whose other cells are empty. Returns its index.
    int InsertRow(int index, std::string_view text);
    // Appends a row; returns its index.
    int AppendRow(std::string_view text) { return InsertRow(RowCount(), text); }
    // Sets a cell; a row or column index that does not exist makes this do nothing (a column
    // name that does not exist throws, see RequireColumn).
    void SetCell(int row, int column, std::string_view text);
    void SetCell(int row, std::string_view columnName, std::string_view text);
    // Writes a number in its decimal form.
    void SetNumber(int row, int column, std::uint64_t value);
    void SetNumber(int row, std::string_view columnName, std::uint64_t value);
    void SetSignedNumber(int row, int column, std::int64_t value);
    void SetSignedNumber(int row, std::string_view columnName, std::int64_t value);

    // The cell's text; empty for a row or column that does not exist. The view is good until the
    // table next changes.
    [[nodiscard]] std::string_view GetCell(int row, int column) const;
    [[nodiscard]] std::string_view GetCell(int row, std::string_view columnName) const;
    // At most bufferLength - 1 bytes of the cell, as a reader with a fixed buffer sees it
    // (cut at a UTF-8 character boundary).
    [[nodiscard]] std::string GetCell(int row, int column, std::size_t bufferLength) const;
    // Numeric reads: the leading decimal digits of the cell, 0 for an empty or non-numeric cell.
    [[nodiscard]] std::uint32_t GetU32(int row, int column) const;  // saturates at 2^32 - 1
    [[nodiscard]] std::uint64_t GetU64(int row, int column) const;
    [[nodiscard]] std::int64_t GetI64(int row, int column) const;
    [[nodiscard]] std::uint32_t GetU32(int row, std::string_view columnName) const;
    [[nodiscard]] std::uint64_t GetU64(int row, std::string_view columnName) const;
    [[nodiscard]] std::int64_t GetI64(int row, std::string_view columnName) const;

    void DeleteRow(int row);
    void DeleteAllRows() { m_rows.clear(); }
    // Index of the first row whose column-0 text equals text, letter case ignored; -1 if none.
    [[nodiscard]] int FindRow(std::string_view text) const;

    // Sorts all rows by one column (see CompareCells). Only sortable tables sort; on the others
    // this does nothing and returns false.
    bool SortByColumn(int column, bool ascending);
    [[nodiscard]] int sortedColumn() const { return m_sortedColumn; }
    [[nodiscard]] bool sortedAscending() const { return m_sortedAscending; }
    [[nodiscard]] bool sortable() const { return m_sortable; }

private:
    std::string m_name;
    std::vector<ColumnSpec> m_columns;
    // Each row: ColumnCount() little-endian u32 end offsets into the text that follows them.
    std::vector<std::string> m_rows;
    bool m_sortable = false;
    int m_sortedColumn = -1;
    bool m_sortedAscending = true;
};

// The order of two cells in a sort, by the first rule that applies to both:
//  1. both all hexadecimal digits: compared as unsigned numbers of any length (decimal cells
//     fall under this rule too, and keep their numeric order);
//  2. both a decimal floating-point number, optionally followed by one '%': numerically;
//  3. both a date ("06-DEC-2026", "6-DEC-2026") or a time ("14:05", "3:7:9"): as date-times;
//  4. otherwise byte by byte.
// Returns <0, 0 or >0.
[[nodiscard]] int CompareCells(std::string_view a, std::string_view b);

}  // namespace quorlan

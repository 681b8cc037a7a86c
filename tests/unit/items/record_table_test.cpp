#include "items/record_table.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include <map>

#include "items/tables.h"

namespace quorlan {
namespace {

std::vector<std::string> column(const RecordTable& t, int c) {
    std::vector<std::string> out;
    for (int r = 0; r < t.RowCount(); ++r) out.emplace_back(t.GetCell(r, c));
    return out;
}

TEST(RecordTable, DataModelRules) {
    RecordTable t = MakeDirectoryTable();
    ASSERT_EQ(t.ColumnCount(), 7);
    // Inserting at count appends; inserting at i places the row before the former row i.
    t.InsertRow(0, "b");
    t.InsertRow(1, "d");
    t.InsertRow(1, "c");
    t.InsertRow(0, "a");
    EXPECT_EQ(column(t, 0), (std::vector<std::string>{"a", "b", "c", "d"}));

    // Eleven cells written into a seven-column table: only the first seven stay.
    for (int c = 0; c < 11; ++c) t.SetCell(2, c, "v" + std::to_string(c));
    EXPECT_EQ(t.GetCell(2, 6), "v6");
    EXPECT_EQ(t.GetCell(2, 7), "");
    EXPECT_EQ(t.GetCell(2, 10), "");
    // Missing rows and column indices read empty, and numeric reads of them give 0.
    EXPECT_EQ(t.GetCell(9, 0), "");
    EXPECT_EQ(t.GetCell(-1, 0), "");
    EXPECT_EQ(t.GetU32(9, "Sector"), 0u);
    t.SetCell(9, 0, "dropped");
    EXPECT_EQ(t.RowCount(), 4);
    // A column name the table does not have is a mistake in the program: it throws instead of
    // writing nowhere (a misspelt "Deleted" would lose every deleted mark without a sound).
    EXPECT_THROW(t.SetCell(0, "no such column", "x"), std::invalid_argument);
    EXPECT_THROW(t.SetNumber(0, "sector", 1), std::invalid_argument) << "names are exact: the column is \"Sector\"";
    EXPECT_THROW((void)t.GetCell(0, "no such column"), std::invalid_argument);
    EXPECT_THROW((void)t.GetU64(0, "no such column"), std::invalid_argument);
    EXPECT_EQ(column(t, 0), (std::vector<std::string>{"a", "b", "v0", "d"})) << "nothing was written";

    // Cells by name, numbers in decimal form and back; non-numeric text reads as 0.
    t.SetNumber(0, "Self Cluster", 268435455);
    EXPECT_EQ(t.GetCell(0, "Self Cluster"), "268435455");
    EXPECT_EQ(t.GetU32(0, "Self Cluster"), 268435455u);
    t.SetNumber(0, "Parent Cluster", 5'000'000'000ull);
    EXPECT_EQ(t.GetU64(0, "Parent Cluster"), 5'000'000'000ull);
    EXPECT_EQ(t.GetU32(0, "Parent Cluster"), 0xFFFFFFFFu) << "a 32-bit read of a larger number saturates";
    t.SetCell(0, "Date", "-132000000000000000");
    EXPECT_EQ(t.GetI64(0, "Date"), -132000000000000000);
    t.SetCell(0, "Time", "abc");
    EXPECT_EQ(t.GetU32(0, "Time"), 0u);

    // A fixed-size reader sees at most bufferLength - 1 bytes, never half a character.
    t.SetCell(1, 1, "Fotos \xC3\xA9t\xC3\xA9");  // "Fotos été"
    EXPECT_EQ(t.GetCell(1, 1, 8), "Fotos ");
    EXPECT_EQ(t.GetCell(1, 1, 9), "Fotos \xC3\xA9");

    // FindRow compares column 0 ignoring case; DeleteRow moves the rest up.
    t.SetCell(2, 0, "c");
    EXPECT_EQ(t.FindRow("C"), 2);
    EXPECT_EQ(t.FindRow("zz"), -1);
    t.DeleteRow(1);
    EXPECT_EQ(column(t, 0), (std::vector<std::string>{"a", "c", "d"}));
    t.DeleteAllRows();
    EXPECT_EQ(t.RowCount(), 0);
}

// Cells are packed into one block per row: rewriting one cell longer or shorter, in any order,
// must leave every other cell of every row as it was. Checked against a plain table of strings.
TEST(RecordTable, RewrittenCellsKeepTheirNeighbours) {
    RecordTable t = MakeNtfsEntryTable();
    const int columns = t.ColumnCount();
    std::vector<std::vector<std::string>> model;
    std::uint32_t seed = 12345;
    auto next = [&seed] { return seed = seed * 1103515245u + 12345u; };
    for (int step = 0; step < 4000; ++step) {
        const std::uint32_t what = next() % 10;
        if (what == 0 || model.empty()) {
            const int at = static_cast<int>(next() % (model.size() + 1));
            const std::string text(next() % 40, static_cast<char>('a' + step % 26));
            t.InsertRow(at, text);
            std::vector<std::string> row{text};
            row.resize(static_cast<std::size_t>(columns));
            model.insert(model.begin() + at, row);
        } else if (what == 1 && model.size() > 5) {
            const auto at = next() % model.size();
            t.DeleteRow(static_cast<int>(at));
            model.erase(model.begin() + static_cast<std::ptrdiff_t>(at));
        } else {
            const auto r = next() % model.size();
            const auto c = next() % static_cast<std::uint32_t>(columns);
            std::string text(next() % 300, 'x');
            if (!text.empty()) text[next() % text.size()] = '\0';  // cells may hold any byte
            t.SetCell(static_cast<int>(r), static_cast<int>(c), text);
            model[r][c] = text;
        }
    }
    ASSERT_EQ(static_cast<std::size_t>(t.RowCount()), model.size());
    for (std::size_t r = 0; r < model.size(); ++r) {
        for (int c = 0; c < columns; ++c) {
            ASSERT_EQ(t.GetCell(static_cast<int>(r), c), model[r][static_cast<std::size_t>(c)]) << r << "," << c;
        }
    }
}

TEST(RecordTable, SortsNumbersOfAnyLengthInNumericOrder) {
    RecordTable t = MakeFatEntryTable();
    const int self = t.ColumnIndex("self");
    for (const char* v : {"100000000", "10", "268435455", "9", "99999999", "4294967296", "0", "4294967295"}) {
        const int r = t.AppendRow("Dir");
        t.SetCell(r, self, v);
    }
    ASSERT_TRUE(t.SortByColumn(self, true));
    EXPECT_EQ(column(t, self), (std::vector<std::string>{"0", "9", "10", "99999999", "100000000",
                                                          "268435455", "4294967295", "4294967296"}));
    ASSERT_TRUE(t.SortByColumn(self, false));
    EXPECT_EQ(t.GetCell(0, self), "4294967296");
    EXPECT_EQ(t.sortedColumn(), self);
    EXPECT_FALSE(t.sortedAscending());

    RecordTable plain = MakeDirectoryTable();
    EXPECT_FALSE(plain.SortByColumn(0, true)) << "only the two entry tables sort";
}

TEST(CompareCells, RulesApplyInOrder) {
    const struct {
        const char* a;
        const char* b;
        int sign;
    } cases[] = {
        {"9", "10", -1},                     // numbers, not text
        {"00012", "12", 0},                  // leading zeros do not count
        {"A", "10", -1},                     // hexadecimal digits: 0xA < 0x10
        {"ff", "FF", 0},
        {"1.5", "-2", 1},                    // decimal floating point
        {"50%", "7%", 1},
        {"06-DEC-2026", "15-FEB-2009", 1},   // dates of the listing
        {"3:7:9", "14:05", -1},              // times
        {"Photos", "Music", 1},              // text, byte by byte
        {"", "0", -1},                       // an empty cell is text
    };
    for (const auto& c : cases) {
        const int r = CompareCells(c.a, c.b);
        EXPECT_EQ((r > 0) - (r < 0), c.sign) << c.a << " vs " << c.b;
        const int back = CompareCells(c.b, c.a);
        EXPECT_EQ((back > 0) - (back < 0), -c.sign) << c.b << " vs " << c.a;
    }
}

TEST(RecordTable, MixedCellsSortWithoutFault) {
    // Cells that fall under different rules give no consistent order; the sort must still end
    // with every row present once.
    RecordTable t = MakeNtfsEntryTable();
    const char* cells[] = {"10", "x", "", "1.5", "ff", "3:7:9", "06-DEC-2026", "-4", "A", "zz", "7%"};
    for (int round = 0; round < 20; ++round) {
        for (const char* v : cells) t.AppendRow(v);
    }
    ASSERT_TRUE(t.SortByColumn(0, true));
    EXPECT_EQ(t.RowCount(), 220);
    std::map<std::string, int> counts;
    for (int r = 0; r < t.RowCount(); ++r) ++counts[std::string(t.GetCell(r, 0))];
    for (const char* v : cells) EXPECT_EQ(counts[v], 20) << v;
}

TEST(RecordTables, InstancesHaveTheirColumns) {
    RecordTables tables;
    auto names = [](const RecordTable& t) {
        std::vector<std::string> out;
        for (const auto& c : t.columns()) out.push_back(c.name);
        return out;
    };
    const std::vector<std::string> entry{"Name", "sector", "self", "parent", "date", "time",
                                         "size", "attr", "sysID", "Type", "Deleted"};
    EXPECT_EQ(names(tables.fatEntryTable), entry);
    EXPECT_EQ(names(tables.ntfsEntryTable), entry);
    EXPECT_EQ(tables.ntfsEntryTable.columns().back().width, 1);
    EXPECT_EQ(names(tables.directoryTable),
              (std::vector<std::string>{"Sector", "Self Cluster", "Parent Cluster", "File System",
                                        "Date", "Time", "First Run"}));
    EXPECT_EQ(names(tables.dedupeDirectoryTable),
              (std::vector<std::string>{"Self Cluster", "Sector", "Parent Cluster", "File System",
                                        "Date", "Time", "First Run"}));
    const std::vector<std::string> fs{"Sector", "SPF", "SPC", "Root Sectors", "Root Start",
                                      "Reserve Sectors", "Cluster0Start", "firstFAT", "secondFAT",
                                      "TotalSectors", "PartType"};
    EXPECT_EQ(names(tables.fileSystemTableFound), fs);
    EXPECT_EQ(names(tables.fileSystemTableIdentified), fs);
    EXPECT_EQ(names(tables.mftRefTable), (std::vector<std::string>{"sector", "mftReference", "vcn", "fsNumber"}));
    EXPECT_EQ(names(tables.mftEntryTable),
              (std::vector<std::string>{"name", "Sector", "parentMFT", "selfMFT", "size", "type",
                                        "fsNumber", "date", "First Run", "Deleted"}));
    EXPECT_EQ(names(tables.propertyList), (std::vector<std::string>{"Name", "Value"}));
    tables.propertyList.AppendRow("x");
    tables.propertyList.ResetColumns(FileListColumns());
    EXPECT_EQ(names(tables.propertyList),
              (std::vector<std::string>{"Name", "Type", "Size", "Date", "Time", "Debug Info 1",
                                        "Debug Info 2", "Debug Info 3"}));
    EXPECT_EQ(tables.propertyList.RowCount(), 0) << "a change of role empties the list";
    EXPECT_EQ(tables.fileTypesList.RowCount(), 4);

    // Validation empties what a search fills and leaves the visible list alone.
    tables.fatEntryTable.AppendRow("QLN_Miscellaneous");
    tables.mftRefTable.AppendRow("1");
    tables.fileSystemTableFound.AppendRow("63");
    tables.ClearSearchTables();
    EXPECT_EQ(tables.fatEntryTable.RowCount(), 0);
    EXPECT_EQ(tables.mftRefTable.RowCount(), 0);
    EXPECT_EQ(tables.fileTypesList.RowCount(), 4);
    EXPECT_EQ(tables.fileSystemTableFound.RowCount(), 1);
}

}  // namespace
}  // namespace quorlan

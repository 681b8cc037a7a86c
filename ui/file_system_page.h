// The page of the file systems an Advance Search found: "File Systems" with one item per file
// system ("File System 1 - FAT32"); the selected one's four rows in the visible list.
#pragma once

#include <QObject>
#include <string>
#include <vector>

#include "items/volume.h"
#include "ui/controls.h"

namespace quorlan::ui {

struct FileSystemRow {
    std::size_t number = 0;  // 1-based
    std::string text;        // "File System n - TYPE"
    FileSystemType type = FileSystemType::Unknown;
    std::uint64_t start = 0;
    std::uint64_t sectorsPerCluster = 0;
};

class FileSystemPage : public QObject {
    Q_OBJECT
public:
    explicit FileSystemPage(QWidget* parent);

    [[nodiscard]] mytreectrl* tree() const { return m_tree; }
    [[nodiscard]] QWidget* panel() const { return m_panel; }

    // The list of file systems; the first one selected.
    void fill(const std::vector<FileSystemRow>& rows);
    void clear();
    [[nodiscard]] std::size_t selectedNumber() const;
    [[nodiscard]] const FileSystemRow* selected() const;
    void select(std::size_t number);
    // The four rows of a file system in the visible list.
    static void showDetails(CColoredListCtrl& list, const FileSystemRow& row);

signals:
    void fileSystemSelected(std::size_t number);

private:
    mytreectrl* m_tree;
    QWidget* m_panel;
    std::vector<FileSystemRow> m_rows;
};

}  // namespace quorlan::ui

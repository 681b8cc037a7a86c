// The partition page: the selected disk's partitions (those of its table and those the
// lost-partition search found), the search mode, the Partition Type list and the sector range of
// an Advance Search, and the lost-partition search's own controls.
#pragma once

#include <QComboBox>
#include <QLineEdit>
#include <QObject>
#include <QPushButton>
#include <QRadioButton>
#include <optional>

#include "disks/partition_table.h"
#include "ui/controls.h"
#include "ui/text_progress.h"
#include "ui/wizard_controller.h"

namespace quorlan::ui {

class PartitionPage : public QObject {
    Q_OBJECT
public:
    // The tree item of "Unknown Partition" and the empty placeholder of a running search.
    static constexpr int kUnknownItem = -1;
    static constexpr int kPlaceholderItem = -2;

    explicit PartitionPage(QWidget* parent);

    [[nodiscard]] mytreectrl* tree() const { return m_tree; }
    [[nodiscard]] QWidget* panel() const { return m_panel; }
    [[nodiscard]] CTextProgressCtrl* partitionSearchBar() const { return m_bar; }

    // The disk node and its partitions; the first is selected when the table gave it.
    void fill(std::size_t diskNumber, const DiskPartitionList& list);
    // The selected item: a partition's index, kUnknownItem, or empty.
    [[nodiscard]] std::optional<int> selectedItem() const;
    void selectItem(int item);
    // The lost-partition search: the placeholder while it runs on a disk without partitions,
    // and "Unknown Partition" when it found none.
    void addPlaceholder();
    void removePlaceholder();
    void addUnknownPartition();

    void setMode(SearchMode mode);
    // The Partition Type list and the sector edits as a partition (or "Unknown Partition", with
    // no entry) presets them; an Advance range whose end is not above its start ends at the disk's end.
    void preset(const PartitionEntry* partition, std::uint64_t diskSectors);
    [[nodiscard]] int typeIndex() const { return m_type->currentIndex(); }
    void setTypeIndex(int index) { m_type->setCurrentIndex(index); }
    [[nodiscard]] std::string startText() const { return m_start->text().toStdString(); }
    [[nodiscard]] std::string endText() const { return m_end->text().toStdString(); }
    void setStartText(const QString& text) { m_start->setText(text); }
    void setEndText(const QString& text) { m_end->setText(text); }

    // Entire Disk (empty) or Sector Range (the two edits).
    [[nodiscard]] bool sectorRangeChosen() const { return m_sectorRange->isChecked(); }
    [[nodiscard]] std::string rangeStartText() const { return m_rangeStart->text().toStdString(); }
    [[nodiscard]] std::string rangeEndText() const { return m_rangeEnd->text().toStdString(); }
    // Sector Range fills 0 and the disk's sector count; Entire Disk empties the edits.
    void chooseRange(bool sectorRange, std::uint64_t diskSectors);

    // Shows what the wizard allows now; running: a lost-partition search runs.
    void applyControls(const Controls& c, SearchMode mode, bool running);

signals:
    void itemSelected(int item);
    void rangeChosen(bool sectorRange);
    void searchMoreClicked();
    void stopClicked();

private:
    [[nodiscard]] QTreeWidgetItem* diskNode() const { return m_tree->topLevelItem(0); }

    mytreectrl* m_tree;
    QWidget* m_panel;
    QLabel* m_modeLabel;
    QLabel* m_typeLabel;
    QComboBox* m_type;
    QLabel *m_startLabel, *m_endLabel;
    QLineEdit *m_start, *m_end;
    QRadioButton *m_entireDisk, *m_sectorRange;
    QLabel *m_rangeStartLabel, *m_rangeEndLabel;
    QLineEdit *m_rangeStart, *m_rangeEnd;
    QPushButton *m_searchMore, *m_stop;
    QLabel* m_barLabel;
    CTextProgressCtrl* m_bar;
};

}  // namespace quorlan::ui

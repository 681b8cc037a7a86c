// The disk page: "My Computer" with the removable disks, disk images and the floppy, the two
// search-mode radios and Refresh List.
#pragma once

#include <QObject>
#include <QPushButton>
#include <optional>
#include <vector>

#include "disks/disk_inventory.h"
#include "ui/controls.h"

namespace quorlan::ui {

class DiskPage : public QObject {
    Q_OBJECT
public:
    explicit DiskPage(QWidget* parent);

    [[nodiscard]] mytreectrl* tree() const { return m_tree; }
    [[nodiscard]] QWidget* panel() const { return m_panel; }
    [[nodiscard]] CCustomRadio* standardRadio() const { return m_standard; }
    [[nodiscard]] CCustomRadio* advanceRadio() const { return m_advance; }

    // Lists the disks (by slot) under "My Computer", none selected.
    void fill(const std::vector<DiskInfo>& disks);
    // Selects the node of a slot, as a click would.
    void select(std::size_t slot);
    // Shows the chosen mode in the radios (none: both clear) and which radios are offered.
    void showMode(std::optional<SearchMode> mode, bool standardEnabled, bool advanceEnabled);
    void setRefreshVisible(bool visible);
    // The details of a disk in the visible list; the floppy shows none.
    static void showDetails(CColoredListCtrl& list, const DiskInfo* disk);

signals:
    void diskSelected(std::size_t slot);
    void modeChosen(quorlan::SearchMode mode);
    void refreshClicked();

private:
    mytreectrl* m_tree;
    QWidget* m_panel;
    CCustomRadio* m_standard;
    CCustomRadio* m_advance;
    QPushButton* m_refresh;
    QLabel* m_refreshLabel;
};

}  // namespace quorlan::ui

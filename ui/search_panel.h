// The search status panel shown while a search runs: the disk, the file system, the two
// counters, the criteria and the range, the progress bar with its caption, and the status line.
#pragma once

#include <QGroupBox>
#include <QLabel>

#include "core/run_context.h"
#include "items/volume.h"
#include "ui/gui_observer.h"
#include "ui/text_progress.h"

namespace quorlan::ui {

class SearchPanel : public QGroupBox {
    Q_OBJECT
public:
    explicit SearchPanel(QWidget* parent = nullptr);

    // A search begins: its values, and which counter the found-items row shows under which
    // label ("Directories Found" for FAT, "MFT Found" for NTFS).
    void begin(std::size_t diskNumber, FileSystemType type, SearchMode mode, std::uint64_t start, std::uint64_t end);
    // What the worker reported last.
    void show(const ObservedState& state);
    void setStatus(const QString& text) { m_status->setText(text); }
    [[nodiscard]] QString status() const { return m_status->text(); }
    [[nodiscard]] QString foundLabel() const { return m_foundLabel->text(); }
    [[nodiscard]] QString foundValue() const { return m_found->text(); }
    [[nodiscard]] QString bootSectorsValue() const { return m_bootSectors->text(); }
    [[nodiscard]] CTextProgressCtrl* bar() const { return m_bar; }

private:
    QLabel* value(const QString& label, int row);

    QLabel *m_disk, *m_fileSystem, *m_foundLabel, *m_found, *m_bootSectors, *m_criteria, *m_range;
    QLabel* m_status;
    CTextProgressCtrl* m_bar;
    Counter m_counter = Counter::FoldersFound;
};

// Shows a phase's progress on a bar: its caption ("Completed " and the share done, or the
// label's own count) and position.
void ShowPhase(CTextProgressCtrl& bar, const ObservedState& state);

}  // namespace quorlan::ui
